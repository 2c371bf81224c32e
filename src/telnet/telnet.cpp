// Sessions of the TELNET client: start-up, the layer's log and debug level,
// status texts, opening and closing sessions.
#include "telnet/telnet.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "com/escape.h"
#include "telnet/connect.h"
#include "telnet/ssh.h"
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

bool debugAtLeast(int level) { return gDebugLevel.load() >= level; }

// Identity of a pointer as a number for the resolver dump.
unsigned long long identity(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

const char* familyName(int family) {
  switch (family) {
    case AF_INET: return "AF_INET";
    case AF_INET6: return "AF_INET6";
    default: return "UNKNOWN FAMILY";
  }
}

const char* socktypeName(int type) {
  switch (type) {
    case SOCK_STREAM: return "SOCK_STREAM";
    case SOCK_DGRAM: return "SOCK_DGRAM";
    case SOCK_RAW: return "SOCK_RAW";
    case SOCK_RDM: return "SOCK_RDM";
    case SOCK_SEQPACKET: return "SOCK_SEQPACKET";
    default: return "UNKNOWN SOCKTYPE";
  }
}

const char* protocolName(int protocol) {
  switch (protocol) {
    case 6: return "TCP";
    case 17: return "UDP";
    default: return "UNKNOWN PROTOCOL";
  }
}

// Reads and discards what the peer still sends until it closes its side or
// the limit passes. Called after the half-close, so that the final close
// finds no unread input and ends the connection with a FIN, not a reset that
// could make the peer drop the last bytes we sent.
void drainUntilPeerCloses(int sock) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + CLOSE_DRAIN_LIMIT;
  char scratch[512];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return;
    pollfd pfd{sock, POLLIN, 0};
    const int r = poll(&pfd, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return;
    const ssize_t got = recv(sock, scratch, sizeof scratch, MSG_DONTWAIT);
    if (got == 0) return;
    if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return;
  }
}

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
  // Callers log an error and then report errno; the sink must not change it.
  const int savedErrno = errno;

  char entry[LOGIT_BUFSIZE];
  va_list ap;
  va_start(ap, format);
  const int n = modburn::format_entry(entry, sizeof entry, format, ap);
  va_end(ap);
  if (n < 0) {
    errno = savedErrno;
    return;
  }
  if (n >= LOGIT_BUFSIZE) std::fputs("logit: truncated string\n", stderr);

  if (sink == &telnet_stderr_sink) {
    std::fputs(entry, stderr);
  } else {
    sink("%s", entry);
  }
  errno = savedErrno;
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

const char* aiFlagsText(int flags, char* out, std::size_t outSize) {
  if (out == nullptr || outSize == 0) return "";
  std::string text;
  if (flags & AI_PASSIVE) text += "PASSIVE ";
  if (flags & AI_CANONNAME) text += "CANONNAME ";
  if (flags & AI_NUMERICHOST) text += "NUMERICHOST ";
  if (!text.empty()) text.pop_back();
  std::snprintf(out, outSize < 200 ? outSize : 200, "%s", text.c_str());
  return out;
}

void logaddrinfo(const char* host, const addrinfo* ai) {
  if (ai == nullptr) return;
  char dest[100];
  if (getnameinfo(ai->ai_addr, ai->ai_addrlen, dest, sizeof dest, nullptr, 0, NI_NUMERICHOST) != 0) {
    std::snprintf(dest, sizeof dest, "%s", "UNKNOWN - getnameinfo() failed");
  }
  if (!debugAtLeast(2)) return;
  char flags[200];
  logit("telnet_open:%s: logaddrinfo: addrinfo=0x%llx\n", host, identity(ai));
  logit("  ai_flags=0x%x (%s)\n", static_cast<unsigned>(ai->ai_flags), aiFlagsText(ai->ai_flags, flags, sizeof flags));
  logit("  ai_family=%d (%s)\n", ai->ai_family, familyName(ai->ai_family));
  logit("  ai_socktype=%d (%s)\n", ai->ai_socktype, socktypeName(ai->ai_socktype));
  logit("  ai_protocol=%d (%s)\n", ai->ai_protocol, protocolName(ai->ai_protocol));
  logit("  ad_addr=0x%llx ai_addrlen=%d\n", identity(ai->ai_addr), static_cast<int>(ai->ai_addrlen));
  logit("  (destname=%s)\n", dest);
  logit("  ai_canonname=%s\n", ai->ai_canonname != nullptr ? ai->ai_canonname : "(null)");
  logit("  ai_next=0x%llx\n", identity(ai->ai_next));
}

TelnetHandle telnet_open(const char* host, int port) {
  if (host == nullptr || *host == '\0') return TELNET_BAD_HOST;
  if (port == 0) port = TELNET_DEFAULT_PORT;
  logit("telnet_open:%s: using IPV6 APIs\n", host);

  const int sock = net_connect("telnet_open", host, port, NET_CONNECT_SECS);
  if (sock < 0) return sock;

  const int flags = fcntl(sock, F_GETFL, 0);
  if (flags < 0 || fcntl(sock, F_SETFL, flags | O_NONBLOCK) != 0) {
    const int err = errno;
    logit("telnet_open:%d: SOCK_NONBLOCK failed (SLOW), errno=%d (%s)\n", sock, err, sockErrorText(err));
  }

  if (debugAtLeast(2)) logit("telnet_open:%d: now sending initial telnet options\n", sock);
  sendInitialOptions(sock);
  if (debugAtLeast(1)) logit("telnet_open:%d: returns successfully\n", sock);
  return sock;
}

int telnet_close(TelnetHandle h) {
  // An SSH console ends its channel and session first: its own close.
  if (sshcon_isSession(h)) return sshcon_close(h);
  if (debugAtLeast(1)) logit("telnet_close: closing handle %d\n", h);
  // Half-close first: our last bytes go out followed by a FIN. A handle that
  // is no socket at all is refused rather than closed.
  if (shutdown(h, SHUT_WR) == 0) {
    drainUntilPeerCloses(h);
  } else if (errno == EBADF || errno == ENOTSOCK) {
    logit("telnet_close: got BADHANDLE error\n");
    return TELNET_BAD_HANDLE;
  }
  if (close(h) != 0) {
    logit("telnet_close: got BADHANDLE error\n");
    return TELNET_BAD_HANDLE;
  }
  return TELNET_SUCCESS;
}
