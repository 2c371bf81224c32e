// Sessions of the TELNET client: start-up, the layer's log and debug level,
// status texts, opening and closing sessions.
#include "telnet/telnet.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "com/secrets.h"
#include "telnet/telnet_internal.h"

namespace {

// Size of one formatted log entry, terminator included.
constexpr int LOGIT_BUFSIZE = 2000;
// Size of the per-thread text of a system error number.
constexpr std::size_t SOCKERR_BUFSIZE = 1024;

// Process-wide state: the debug level and the sink, changed at any time and
// read by every session, hence atomics.
std::atomic<int> gDebugLevel{0};
std::atomic<LogSink> gSink{&telnet_stderr_sink};

// strerror_r comes in two flavours; both end up as a text here.
[[maybe_unused]] const char* strerrorResult(const char* r, const char*) { return r; }
[[maybe_unused]] const char* strerrorResult(int rc, const char* buf) { return rc == 0 ? buf : nullptr; }

}  // namespace

void telnet_stderr_sink(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::vfprintf(stderr, format, ap);
  va_end(ap);
}

int telnet_init() {
  // POSIX sockets need no start-up; nothing can fail here.
  return TELNET_SUCCESS;
}

void telnet_finish() {
  // Nothing to finish on POSIX: the socket layer has no global state.
}

const char* telnet_strerror(int code) {
  switch (static_cast<TelnetStatus>(code)) {
    case TELNET_SUCCESS: return "SUCCESS";
    case TELNET_BAD_HOST: return "Invalid/unknown host name or IP Address";
    case TELNET_CONN_ERR: return "Could not connect";
    case TELNET_CONN_LOST: return "Connection lost";
    case TELNET_TIMEOUT: return "Operation timed out";
    case TELNET_BAD_HANDLE: return "Bad telnet handle";
    case TELNET_NO_MATCH: return "No match";
    case TELNET_REGEX_ERR: return "Regex error";
    case TELNET_BAD_BUFFER: return "Bad buffer";
    case TELNET_BAD_STRING: return "Bad string or pattern data";
    case TELNET_BAD_INIT: return "Bad initialization";
    case TELNET_NO_IPSTACK: return "No protocol stack for IP(v4/v6) Address";
  }
  thread_local char unknown[40];
  std::snprintf(unknown, sizeof unknown, "Unknown error=%d", code);
  return unknown;
}

int telnet_setDebugLevel(int level) { return gDebugLevel.exchange(level); }

int telnet_getDebugLevel() { return gDebugLevel.load(); }

LogSink telnet_setLogSink(LogSink sink) { return gSink.exchange(sink); }

LogSink telnet_getLogSink() { return gSink.load(); }

void logit(const char* format, ...) {
  LogSink sink = gSink.load();
  if (sink == nullptr || format == nullptr) return;

  char entry[LOGIT_BUFSIZE];
  va_list ap;
  va_start(ap, format);
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(entry, sizeof entry, format, ap);
  va_end(ap);
  if (n < 0) {
    va_end(again);
    return;
  }
  if (n >= LOGIT_BUFSIZE) {
    std::fputs("logit: truncated string\n", stderr);
    if (modburn::has_secrets()) {
      // A secret may straddle the cut: mask the whole entry, then cut it, so
      // that not even the secret's first characters survive.
      std::string whole(static_cast<std::size_t>(n) + 1, '\0');
      std::vsnprintf(whole.data(), whole.size(), format, again);
      modburn::redact_in_place(whole.data());
      std::memcpy(entry, whole.data(), LOGIT_BUFSIZE - 1);
    }
    if (entry[LOGIT_BUFSIZE - 1] != '\0') {
      std::fputs("logit: no nul at end of truncated string\n", stderr);
    }
    entry[LOGIT_BUFSIZE - 1] = '\0';
  } else {
    modburn::redact_in_place(entry);
  }
  va_end(again);

  if (sink == &telnet_stderr_sink) {
    std::fputs(entry, stderr);
  } else {
    sink("%s", entry);
  }
}

const char* sockErrorText(int errnum) {
  thread_local char text[SOCKERR_BUFSIZE];
  const char* r = strerrorResult(strerror_r(errnum, text, sizeof text), text);
  if (r == nullptr || *r == '\0') return "Unknown Win32 Error Code";
  if (r != text) {
    std::snprintf(text, sizeof text, "%s", r);
  }
  return text;
}
