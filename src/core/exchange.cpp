#include "core/exchange.h"

#include <array>
#include <cstdio>
#include <string>

#include "com/escape.h"
#include "com/secrets.h"
#include "com/timescale.h"
#include "core/iostatus.h"
#include "core/log.h"

namespace {

// Commands and responses are shown in log lines escaped and cut to this size.
constexpr int QUOTE_SIZE = 200;
// Pause before every wait: lets the switch start answering what was typed.
constexpr int PAUSE_MS = 100;

using Quote = std::array<char, QUOTE_SIZE>;

// Blank margins of the continuation lines, as wide as the prefix they sit under.
constexpr const char* MARGIN_MATCH = "                       ";  // 23 blanks
constexpr const char* MARGIN_TIMEOUT = "          ";             // 10 blanks

// Logs every pattern of exp and returns how many there are.
int countPatterns(TelnetHandle h, const char* const* exp) {
  int n = 0;
  for (; exp[n] != nullptr; ++n) io_log("modburn:io_cmd_resp:%d: exp_array[%d]=%s\n", h, n, exp[n]);
  return n;
}

// The lines of a match: which pattern, what it matched, and a warning when
// the switch said something other than what the caller hoped for.
void logMatch(TelnetHandle h, const char* shownCmd, const char* const* exp, int index,
              const char* resp, int expIndex) {
  io_log("modburn:io_cmd_resp:%d: telnet_expect matched item %d (\"%s\")\n", h, index, exp[index]);
  if (resp != nullptr) {
    Quote q;
    io_log("%smatched string=\"%s\"\n", MARGIN_MATCH, printable(resp, q.data(), QUOTE_SIZE));
  }
  if (expIndex != -1 && expIndex != index) {
    io_log("modburn:io_cmd_resp:%d: telnet_expect:%s: MATCHED WRONG PATTERN: \n", h, shownCmd);
    io_log("%sexpected %d (%s) - matched %d (\"%s\")\n", MARGIN_MATCH, expIndex, exp[expIndex],
           index, exp[index]);
  }
  io_log("modburn:io_cmd_resp:%d: returning %d (%s)\n", h, index, "MATCH INDEX");
}

}  // namespace

int io_cmd_resp(TelnetHandle h, const char* cmd, const char* const* exp, int timeoutSecs,
                int timeoutMillis, char* resp, int respSize, int expIndex, int debugLevel) {
  return io_cmd_resp(h, cmd, exp, timeoutSecs, timeoutMillis, resp, respSize, expIndex, debugLevel, LineOut{});
}

int io_cmd_resp(TelnetHandle h, const char* cmd, const char* const* exp, int timeoutSecs,
                int timeoutMillis, char* resp, int respSize, int expIndex, int /*debugLevel*/, LineOut line) {
  if (line.buf != nullptr && line.size > 0) line.buf[0] = '\0';
  Quote shownCmd;
  // printable() masks the thread's secrets before it escapes and cuts.
  const char* shown = printable(cmd, shownCmd.data(), QUOTE_SIZE);  // "(NULL)" for no command
  io_log("modburn:io_cmd_resp:%d: cmd=\"%s\" timeout=%d\n", h, shown, timeoutSecs);

  if (exp == nullptr) {
    io_log("modburn:io_cmd_resp:%d: error: exp_array is NULL\n", h);
    return IO_BAD_PARAMS;
  }
  const int count = countPatterns(h, exp);
  if (count == 0 || count > IO_MAX_EXPECT) {
    io_log("modburn:io_cmd_resp:%d: error: exp_array has %d entries\n", h, count);
    return IO_BAD_PARAMS;
  }
  if (expIndex != -1 && (expIndex < 0 || expIndex >= count)) {
    io_log("modburn:io_cmd_resp:%d: error: exp_index=%d out of range (exp_array has %d entries\n", h,
           expIndex, count);
    return IO_BAD_PARAMS;
  }

  if (cmd != nullptr) {
    io_log("modburn:io_cmd_resp:%d: telnet_write: \"%s\"\n", h, shown);
    const int wrc = telnet_write(h, cmd);
    if (wrc < 0) {
      io_log("modburn:io_cmd_resp:%d: telnet_write:%s: returned %d (%s)\n", h, shown, wrc,
             telnet_strerror(wrc));
      return io_mapTelnetStatus(wrc);
    }
  }

  modburn::sleep_ms(PAUSE_MS);
  const int rc = telnet_expect(h, exp, timeoutSecs, timeoutMillis, resp, respSize, line);
  if (rc >= 0) {
    logMatch(h, shown, exp, rc, resp, expIndex);
    return rc;
  }
  if (rc == TELNET_TIMEOUT) {
    io_log("modburn:io_cmd_resp:%d: telnet_expect:%s: TIMEOUT\n", h, shown);
    if (resp != nullptr) {
      Quote q;
      io_log("%slast response=\"%s\"\n", MARGIN_TIMEOUT, printable(resp, q.data(), QUOTE_SIZE));
    }
    return IO_TIMEOUT;
  }
  io_log("modburn:io_cmd_resp:%d: telnet_expect:%s: error=%d (%s)\n", h, shown, rc, telnet_strerror(rc));
  return io_mapTelnetStatus(rc);
}

int io_mapTelnetStatus(int telnetStatus) {
  switch (static_cast<TelnetStatus>(telnetStatus)) {
    case TELNET_SUCCESS: return IO_SUCCESS;
    case TELNET_BAD_HOST: return IO_BAD_SWITCH_LOGIN;
    case TELNET_CONN_ERR: return IO_CONN_ERR;
    case TELNET_CONN_LOST: return IO_CONN_LOST;
    case TELNET_TIMEOUT: return IO_TIMEOUT;
    case TELNET_BAD_HANDLE: return IO_CONN_LOST;
    case TELNET_NO_MATCH: return IO_UPDATE_ERR;
    case TELNET_REGEX_ERR: return IO_UPDATE_ERR;
    case TELNET_BAD_BUFFER: return IO_BAD_PARAMS;
    case TELNET_BAD_STRING: return IO_BAD_PARAMS;
    case TELNET_BAD_INIT: return IO_UPDATE_ERR;
    case TELNET_NO_IPSTACK: return IO_NO_IPSTACK;
  }
  return IO_UPDATE_ERR;
}

void io_errorText(const char* switchName, const char* ip, int code, const char* switchText, char* buf,
                  int size) {
  if (buf == nullptr || size <= 0) return;
  const char* name = switchName != nullptr ? switchName : "";
  const char* where = ip != nullptr ? ip : "Unknown switch";
  const auto cap = static_cast<std::size_t>(size);
  int n = 0;
  if (switchText != nullptr && switchText[0] != '\0') {
    // The switch's own words reach Java and a person: masked, and escaped
    // but for the line ends between its answers.
    const std::string quoted = modburn::escape_text(modburn::redact(switchText), modburn::LineEnds::Kept);
    n = std::snprintf(buf, cap, "Error: %s switch=%s: %s \nSWITCH TEXT=\n\"%s\"", name, where, err2String(code),
                      quoted.c_str());
  } else {
    n = std::snprintf(buf, cap, "Error: %s switch=%s: %s", name, where, err2String(code));
  }
  // A cut must not leave half of a UTF-8 sequence at the end.
  if (n >= size) buf[modburn::utf8_cut(buf, cap - 1)] = '\0';
}
