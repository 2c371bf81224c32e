// Waiting for the switch to say one of several things: console lines are
// read one at a time and tried against the patterns in array order.
#include <algorithm>
#include <array>
#include <cstring>

#include "com/sregex.h"
#include "telnet/telnet.h"
#include "telnet/telnet_internal.h"

namespace {

constexpr int LINE_SIZE = 10000;
constexpr std::size_t TAIL_SIZE = 5000;
constexpr std::size_t MATCH_SIZE = 5000;
constexpr int TRACE_SIZE = 10000;
constexpr int COPY_TRACE_SIZE = 5000;

bool debugAtLeast(int level) { return telnet_getDebugLevel() >= level; }

// Copies text into a caller's buffer, cut to its size; nothing without one.
void copyLine(const char* line, LineOut to) {
  if (to.buf == nullptr || to.size <= 0) return;
  const std::size_t n = std::min(std::strlen(line), static_cast<std::size_t>(to.size - 1));
  std::memcpy(to.buf, line, n);
  to.buf[n] = '\0';
}

}  // namespace

void copyToCaller(TelnetHandle h, const char* text, char* out, int outSize) {
  if (out == nullptr || outSize <= 0 || text == nullptr) return;
  if (debugAtLeast(2)) {
    std::array<char, COPY_TRACE_SIZE> shown;
    logit(":%d:      copying to caller: string=%s\n", h, printable(text, shown.data(), COPY_TRACE_SIZE));
  }
  copyLine(text, {out, outSize});
}

void appendTail(char* running, const char* line, std::size_t cap) {
  if (running == nullptr || line == nullptr || cap == 0) return;
  const std::size_t keep = cap - 1;
  const std::size_t add = std::strlen(line);
  if (add >= keep) {
    std::memcpy(running, line + (add - keep), keep);
    running[keep] = '\0';
    return;
  }
  std::size_t have = std::strlen(running);
  if (have + add > keep) {
    const std::size_t drop = have + add - keep;
    std::memmove(running, running + drop, have - drop);
    have -= drop;
  }
  std::memcpy(running + have, line, add + 1);
}

int telnet_expect_limit(int timeoutSecs) { return std::max(4 * timeoutSecs, 120); }

int telnet_expect(TelnetHandle h, const char* const* exp, int timeoutSecs, int extra, char* out, int outSize) {
  return telnet_expect(h, exp, timeoutSecs, extra, out, outSize, LineOut{});
}

// extra is accepted and has no effect, as in telnet_readline.
int telnet_expect(TelnetHandle h, const char* const* exp, int timeoutSecs, int /*extra*/, char* out, int outSize,
                  LineOut matched) {
  if (matched.buf != nullptr && matched.size > 0) matched.buf[0] = '\0';
  if (exp == nullptr || exp[0] == nullptr) return TELNET_BAD_STRING;
  std::array<char, TRACE_SIZE> trace;
  if (debugAtLeast(2)) {
    logit("TELNET_EXPECT:%d: ENTRY - patterns[0]=%s\n", h, printable(exp[0], trace.data(), TRACE_SIZE));
  }
  std::array<char, TAIL_SIZE> running;
  running[0] = '\0';
  std::array<char, LINE_SIZE> line;
  std::array<char, MATCH_SIZE> match;
  // A switch that prints for ever, or drips a line that never ends, must not
  // hold the caller for ever: the limit ends the wait even inside a line.
  const WaitLimit limit(static_cast<long long>(telnet_expect_limit(timeoutSecs)) * 1000000);
  const auto limitReached = [&] {
    logit("telnet_expect:%d: no match within %d seconds in all\n", h, telnet_expect_limit(timeoutSecs));
    copyToCaller(h, running.data(), out, outSize);
    return TELNET_TIMEOUT;
  };

  for (;;) {
    // The time-out is one of silence before each line; the limit bounds the call.
    const int n = readLineWithin(h, line.data(), LINE_SIZE, 0, timeoutSecs, limit);
    if (n == TELNET_TIMEOUT) {
      if (limit.expired()) return limitReached();
      if (debugAtLeast(2)) logit("telnet_expect:%d: telnet_read TIMEOUT\n", h);
      copyToCaller(h, running.data(), out, outSize);
      return TELNET_TIMEOUT;
    }
    if (n < 0) {
      if (debugAtLeast(2)) logit("telnet_expect:%d: telnet_read error=%d (%s)\n", h, n, telnet_strerror(n));
      return n;
    }
    if (n == 0) {
      if (debugAtLeast(2)) logit("telnet_expect:%d: telnet_read got 0 bytes -continuing\n", h);
      continue;
    }
    if (debugAtLeast(2)) {
      logit("telnet_expect:%d: matching against string=\"%s\"\n", h, printable(line.data(), trace.data(), TRACE_SIZE));
    }
    if (matched.heard != nullptr) matched.heard(matched.context, line.data());
    // The lowest index wins when several patterns match the line.
    for (int i = 0; exp[i] != nullptr; ++i) {
      if (debugAtLeast(2)) {
        logit(":%d:  > trying patterns[%d]=\"%s\" - \n", h, i, printable(exp[i], trace.data(), TRACE_SIZE));
      }
      const int r = sregex_match(exp[i], line.data(), SREGEX_MULTILINE, match.data(), MATCH_SIZE);
      if (r > 0) {
        if (debugAtLeast(2)) logit(":%d:    MATCH - index=%d\n", h, i);
        copyToCaller(h, match.data(), out, outSize);
        copyLine(line.data(), matched);
        return i;
      }
      if (r < 0) {
        if (debugAtLeast(2)) logit(":%d:    error=%d (%s) - exiting\n", h, r, sregex_error_text(r));
        return TELNET_REGEX_ERR;
      }
      if (debugAtLeast(2)) logit(":%d:    NO MATCH - continuing\n", h);
    }
    appendTail(running.data(), line.data(), TAIL_SIZE);
    if (limit.expired()) return limitReached();
    if (debugAtLeast(2)) logit("telnet_expect:%d: no match on response, iterating read\n", h);
  }
}
