// Timed receive, line assembly and writing for the TELNET client.
//
// Input is taken one byte per receive call, so that no byte beyond the
// current line leaves the socket and every IAC is seen at once; a readiness
// wait comes only when nothing is waiting. A console prompt ends without a
// line feed, so a line also ends when the switch falls silent for a short
// gap after it began.
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

#include "com/escape.h"
#include "com/secrets.h"
#include "com/timescale.h"
#include "telnet/ssh.h"
#include "telnet/telnet.h"
#include "telnet/telnet_internal.h"

namespace {

constexpr int READ_TRACE_SIZE = 500;
constexpr int LINE_TRACE_SIZE = 5000;
constexpr long long USECS_PER_SEC = 1000000;
constexpr long long USECS_PER_MSEC = 1000;

bool debugAtLeast(int level) { return telnet_getDebugLevel() >= level; }

// A whole-second protocol time-out in microseconds, through the time seam.
long long secondsToUsecs(int secs) { return modburn::scaled_micros(secs * USECS_PER_SEC); }

// A wait of usecs, but not beyond deadline.
long long waitMicros(long long usecs, TelnetClock::time_point deadline) {
  if (deadline == TelnetClock::time_point::max()) return usecs;
  const long long left =
      std::chrono::duration_cast<std::chrono::microseconds>(deadline - TelnetClock::now()).count();
  return std::clamp(left, 0LL, std::max(usecs, 0LL));
}

// A receive error while assembling a line: logged with the socket error.
int lineLost(int sock) {
  const int err = errno;
  logit("rdline:%d: recvtimeout RTO_ERROR errno=%d (%s)\n", sock, err, sockErrorText(err));
  return TELNET_CONN_LOST;
}

// Writes text: the common body of telnet_write and telnet_send, which differ
// only in the name their log lines carry.
int writeText(const char* name, TelnetHandle h, const char* text) {
  if (text == nullptr || *text == '\0') return TELNET_BAD_STRING;
  const int len = static_cast<int>(std::strlen(text));
  if (debugAtLeast(1)) {
    char shown[READ_TRACE_SIZE];
    logit("%s:%d: SND: TEXT %d bytes: \"%s\"\n", name, h, len, printable(text, shown, sizeof shown));
  }
  if (sendToServer(h, reinterpret_cast<const unsigned char*>(text), len) == 0) return TELNET_SUCCESS;
  const int err = errno;
  logit("%s:%d: errno=%d (%s)\n", name, h, err, sockErrorText(err));
  return err == EBADF || err == ENOTSOCK ? TELNET_BAD_HANDLE : TELNET_CONN_LOST;
}

// recvtimeout on an SSH console: the channel's bytes as they are, nothing
// negotiated. The wait (usecs, but not beyond deadline) is rounded up to
// whole milliseconds, so that a wait of a few microseconds still looks once.
int recvSsh(int sock, char* buf, int len, long long usecs, TelnetClock::time_point deadline) {
  if (TelnetClock::now() >= deadline) return RTO_TIMEOUT;
  const long long micros = waitMicros(usecs, deadline);
  const int millis = static_cast<int>(std::min<long long>((micros + USECS_PER_MSEC - 1) / USECS_PER_MSEC, std::numeric_limits<int>::max()));
  const int n = sshcon_read(sock, buf, len, millis);
  if (n > 0) {
    if (n < len) buf[n] = '\0';
    return n;
  }
  switch (n) {
    case TELNET_TIMEOUT: return RTO_TIMEOUT;
    case TELNET_BAD_HANDLE: return RTO_BADSOCKET;
    default: return RTO_SHUTDOWN;  // the channel ended or failed: sshcon_read said which
  }
}

}  // namespace

const char* escapeBytes(const unsigned char* src, std::size_t len, char* out, int size) {
  if (out == nullptr || size <= 0) return "";
  modburn::escape_bounded(std::string_view(reinterpret_cast<const char*>(src), len), out,
                          static_cast<std::size_t>(size), modburn::LineEnds::Escaped);
  return out;
}

const char* printable(const char* src, char* out, int size) {
  if (src == nullptr) return "(NULL)";
  // Secrets are masked in the raw text: once escaped, a secret holding a
  // backslash-escaped byte would no longer match what was registered.
  std::string masked;
  if (modburn::has_secrets()) {
    masked = modburn::redact(src);
    src = masked.c_str();
  }
  return escapeBytes(reinterpret_cast<const unsigned char*>(src), std::strlen(src), out, size);
}

int selectpoll(int sock, long long usecs) {
  if (sock < 0) return RTO_BADSOCKET;
  if (usecs < 0) usecs = 0;
  // ppoll rather than select: descriptors above FD_SETSIZE are common in a
  // JVM and must not overrun an fd_set.
  timespec wait{static_cast<time_t>(usecs / USECS_PER_SEC), static_cast<long>(usecs % USECS_PER_SEC) * 1000};
  pollfd pfd{sock, POLLIN, 0};
  const int r = ppoll(&pfd, 1, &wait, nullptr);
  if (r < 0) {
    if (errno == EINTR) return RTO_INTERRUPTED;
    return errno == EBADF || errno == ENOTSOCK ? RTO_BADSOCKET : RTO_ERROR;
  }
  if (r == 0) return RTO_TIMEOUT;
  if (pfd.revents & POLLNVAL) return RTO_BADSOCKET;
  return RTO_READY;  // readable, or hung up / in error: the receive tells which
}

// Takes the bytes already waiting, up to len, without waiting: one receive
// call per byte, so that nothing beyond what is asked for leaves the socket,
// and an IAC ends the take once its command is consumed (never stored).
// Returns the count stored (0: nothing waiting), or RTO_SHUTDOWN, RTO_BADSOCKET
// or RTO_ERROR; RTO_TIMEOUT when a subnegotiation still had no end at giveUp
// (what was stored before it is returned first).
static int takeWaiting(int sock, char* buf, int len, TelnetClock::time_point giveUp) {
  int stored = 0;
  while (stored < len) {
    unsigned char c = 0;
    const ssize_t got = recv(sock, &c, 1, MSG_DONTWAIT);
    if (got == 0) {
      logit("recvtimeout:%d: recv: rc=0 (SHUTDOWN)\n", sock);
      return stored == 0 ? RTO_SHUTDOWN : stored;
    }
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
      if (errno == EBADF || errno == ENOTSOCK) return RTO_BADSOCKET;
      return RTO_ERROR;
    }
    if (c == TC_IAC) {
      const CommandRead command = readServerCommand(sock, giveUp);
      // An answer that cannot be sent ends the session's read.
      if (command == CommandRead::SendFailed) return RTO_ERROR;
      if (command == CommandRead::Endless) {
        if (debugAtLeast(2)) logit("recvtimeout:%d: subnegotiation without end\n", sock);
        return stored > 0 ? stored : RTO_TIMEOUT;
      }
      break;
    }
    buf[stored++] = static_cast<char>(c);
  }
  return stored;
}

TelnetClock::time_point WaitLimit::deadline() const {
  if (micros_ < 0) return TelnetClock::time_point::max();
  return start_ + std::chrono::microseconds(modburn::scaled_micros(micros_));
}

int recvtimeout(int sock, char* buf, int len, long long usecs, TelnetClock::time_point deadline) {
  if (sock < 0) return RTO_BADSOCKET;
  if (buf == nullptr || len < 1) return RTO_ERROR;
  if (sshcon_isSession(sock)) return recvSsh(sock, buf, len, usecs, deadline);
  // Wait afresh each time: the time-out measures silence, and a server that
  // sends only negotiation commands keeps the call waiting, but never for
  // longer than four time-outs in all: a flood of commands, or one
  // subnegotiation without end, is not a console.
  const auto now = TelnetClock::now();
  if (now >= deadline) return RTO_TIMEOUT;
  const auto giveUp = std::min(deadline, now + std::chrono::microseconds(4 * std::max(usecs, 0LL)));
  bool waited = false;
  for (;;) {
    // What is waiting is taken before any readiness wait: in the middle of a
    // console line the next byte is there already, and a wait before every
    // byte would double the system calls of each line.
    const int stored = takeWaiting(sock, buf, len, giveUp);
    if (stored < 0) return stored;
    if (stored > 0) {
      if (stored < len) buf[stored] = '\0';
      return stored;
    }
    if (waited && TelnetClock::now() >= giveUp) {
      if (debugAtLeast(2)) logit("recvtimeout:%d: only TELNET commands for %lld usecs\n", sock, 4 * usecs);
      return RTO_TIMEOUT;
    }
    const int ready = selectpoll(sock, waitMicros(usecs, deadline));
    if (ready == RTO_INTERRUPTED) {
      if (debugAtLeast(2)) logit("recvtimeout: signal interrupted select() - redoing selectpoll()\n");
    } else if (ready < 0) {
      // Silence is the normal end of every prompt line: traced, not an error.
      if (ready != RTO_TIMEOUT || debugAtLeast(2)) logit("recvtimeout: selectpoll() error=%d\n", ready);
      return ready;
    }
    waited = true;
  }
}

int rdline(int sock, long long charUsecs, long long firstUsecs, char* buf, int size, const WaitLimit& limit) {
  // Room for at least one character and the terminator.
  if (buf == nullptr || size < 2) return TELNET_BAD_BUFFER;
  if (charUsecs == 0) charUsecs = modburn::scaled_gap_micros(TELNET_DEFAULT_CHAR_USECS);

  char c = 0;
  int r = recvtimeout(sock, &c, 1, firstUsecs, limit.deadline());
  switch (r) {
    case RTO_ERROR:
      return lineLost(sock);
    case RTO_TIMEOUT:
      if (debugAtLeast(2)) logit("rdline:%d: recvtimeout TIMEOUT after %lld usecs\n", sock, firstUsecs);
      return TELNET_TIMEOUT;
    case RTO_SHUTDOWN:
      logit("rdline:%d: Server end shut down\n", sock);
      return TELNET_CONN_LOST;
    case RTO_BADSOCKET:
      logit("rdline:%d: recvtimeout RTO_BADSOCKET\n", sock);
      return TELNET_BAD_HANDLE;
    default:
      if (r < 0) return TELNET_CONN_LOST;
  }

  int n = 0;
  for (;;) {
    if (c == '\0') {
      // A NUL ends the line and is not kept; the line may be empty.
      if (debugAtLeast(2)) logit("rdline:%d: got NUL byte\n", sock);
      buf[n] = '\0';
      return n;
    }
    buf[n++] = c;
    if (c == '\n' || n == size - 1) {
      buf[n] = '\0';
      return n;
    }
    // A switch that never falls silent for a whole gap (one byte now and
    // then, never a line end) would stretch the line to the buffer's size:
    // the caller's limit ends it as a silence would.
    r = recvtimeout(sock, &c, 1, charUsecs, limit.deadline());
    switch (r) {
      case RTO_TIMEOUT:  // the switch fell silent (or the limit came): the line so far is the line
        buf[n] = '\0';
        return n;
      case RTO_ERROR:
        return lineLost(sock);
      case RTO_SHUTDOWN:
        logit("rdline:%d: Server end shut down\n", sock);
        return TELNET_CONN_LOST;
      case RTO_BADSOCKET:
        logit("rdline:%d: Got RTO_BADSOCKET\n", sock);
        return TELNET_BAD_HANDLE;
      default:
        if (r < 0) return TELNET_CONN_LOST;
    }
  }
}

int telnet_readline(TelnetHandle h, char* buf, int size, int charMillis, int timeoutSecs, int /*extra*/) {
  return readLineWithin(h, buf, size, charMillis, timeoutSecs, WaitLimit());
}

int telnet_readline_within(TelnetHandle h, char* buf, int size, int timeoutSecs, TelnetClock::time_point deadline) {
  return readLineWithin(h, buf, size, 0, timeoutSecs, WaitLimit::until(deadline));
}

int readLineWithin(TelnetHandle h, char* buf, int size, int charMillis, int timeoutSecs, const WaitLimit& limit) {
  const int n = rdline(h, charMillis * USECS_PER_MSEC, secondsToUsecs(timeoutSecs), buf, size, limit);
  if (n == TELNET_TIMEOUT) {
    if (debugAtLeast(2)) logit("telnet_readline:%d: rdline TIMEOUT after %d seconds\n", h, timeoutSecs);
    return n;
  }
  if (n < 0) {
    logit("telnet_readline:%d: rdline error=%d (%s)\n", h, n, telnet_strerror(n));
    return n;
  }
  if (debugAtLeast(1)) {
    char shown[LINE_TRACE_SIZE];
    logit("telnet_readline:%d: REC: TEXT %d bytes: \"%s\"\n", h, n, printable(buf, shown, sizeof shown));
  }
  return n;
}

int telnet_readlines(TelnetHandle h, char* buf, int size, int nextMillis, int firstSecs) {
  int total = rdline(h, 0, secondsToUsecs(firstSecs), buf, size);
  if (total < 0) {
    logit("telnet_readlines:%d: rdline1 error=%d (%s)\n", h, total, telnet_strerror(total));
    return total;
  }
  while (size - total >= 2) {
    const int n = rdline(h, 0, nextMillis * USECS_PER_MSEC, buf + total, size - total);
    if (n == TELNET_TIMEOUT) break;
    if (n < 0) {
      logit("telnet_readlines:%d: rdline2 error=%d (%s)\n", h, n, telnet_strerror(n));
      return n;
    }
    total += n;
  }
  if (debugAtLeast(2)) {
    char shown[LINE_TRACE_SIZE];
    logit("telnet_readlines:%d: returning %d/%d chars=\"%s\"\n", h, static_cast<int>(std::strlen(buf)), total,
          printable(buf, shown, sizeof shown));
  }
  return total;
}

int telnet_read(TelnetHandle h, char* buf, int size, int timeoutSecs, int /*extra*/) {
  // A buffer of one byte has room for the terminator only.
  if (buf == nullptr || size < 2) return TELNET_BAD_BUFFER;
  const int n = recvtimeout(h, buf, size - 1, secondsToUsecs(timeoutSecs));
  switch (n) {
    case RTO_ERROR: {
      const int err = errno;
      logit("telnet_read:%d: recvtimeout failed RTO_ERROR, errno=%d (%s)\n", h, err, sockErrorText(err));
      return TELNET_CONN_LOST;
    }
    case RTO_TIMEOUT:
      if (debugAtLeast(2)) logit("telnet_read:%d: recvtimeout TIMEOUT after %d seconds\n", h, timeoutSecs);
      return TELNET_TIMEOUT;
    case RTO_SHUTDOWN:
      logit("telnet_read:%d: Server end shut down\n", h);
      return TELNET_CONN_LOST;
    case RTO_BADSOCKET:
      logit("telnet_read:%d: failed RTO_BADHANDLE\n", h);
      return TELNET_BAD_HANDLE;
    default:
      if (n < 0) return TELNET_CONN_LOST;
  }
  buf[n] = '\0';
  if (debugAtLeast(1)) {
    char shown[READ_TRACE_SIZE];
    logit("telnet_read:%d: REC: TEXT %d bytes: \"%s\"\n", h, n, printable(buf, shown, sizeof shown));
  }
  return n;
}

int telnet_write(TelnetHandle h, const char* text) { return writeText("telnet_write", h, text); }

int telnet_send(TelnetHandle h, const char* text) { return writeText("telnet_send", h, text); }
