#include "telnet/connect.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "com/timescale.h"
#include "telnet/telnet.h"
#include "telnet/telnet_internal.h"

namespace {

// Numeric text of a resolver address, as large as the resolver allows.
constexpr std::size_t HOSTTEXT_SIZE = 1025;

struct AddrInfoFree {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoFree>;

bool setBlocking(int sock, bool blocking) {
  const int flags = fcntl(sock, F_GETFL, 0);
  if (flags < 0) return false;
  return fcntl(sock, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

// Connects a non-blocking sock to addr within timeoutMillis: 0, or -1 with
// errno set (ETIMEDOUT when the address did not answer in time). A signal
// neither ends the wait nor stretches it.
int connectWithin(int sock, const sockaddr* addr, socklen_t len, int timeoutMillis) {
  if (connect(sock, addr, len) == 0) return 0;
  if (errno != EINPROGRESS && errno != EINTR) return -1;
  const auto deadline = TelnetClock::now() + std::chrono::milliseconds(timeoutMillis);
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TelnetClock::now()).count();
    if (left <= 0) {
      errno = ETIMEDOUT;
      return -1;
    }
    pollfd pfd{sock, POLLOUT, 0};
    const int r = poll(&pfd, 1, static_cast<int>(std::min<long long>(left, 1000000)));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) continue;  // the deadline is checked at the top
    int err = 0;
    socklen_t errLen = sizeof err;
    if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &errLen) != 0) return -1;
    if (err == 0) return 0;
    errno = err;
    return -1;
  }
}

// Numeric address and port of a resolver entry: 0, or the resolver's code.
int numericAddress(const addrinfo* entry, char* host, std::size_t hostSize, int& port) {
  char service[32] = "0";
  const int rc = getnameinfo(entry->ai_addr, entry->ai_addrlen, host, static_cast<socklen_t>(hostSize), service,
                             sizeof service, NI_NUMERICHOST | NI_NUMERICSERV);
  port = std::atoi(service);
  return rc;
}

}  // namespace

int connectFirst(const char* who, const char* host, const addrinfo* list, int timeoutSecs) {
  const auto timeoutMillis =
      static_cast<int>(std::max(1LL, modburn::scaled_micros(static_cast<long long>(timeoutSecs) * 1000000) / 1000));
  int failure = TELNET_CONN_ERR;
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    char numeric[HOSTTEXT_SIZE] = "?";
    int port = 0;
    if (const int nrc = numericAddress(entry, numeric, sizeof numeric, port); nrc != 0) {
      logit("%s:%s: getnameinfo failed, rc=%d (%s)\n", who, host, nrc, gai_strerror(nrc));
      std::snprintf(numeric, sizeof numeric, "?");
    } else if (telnet_getDebugLevel() >= 1) {
      logit("%s:%s: IP Address=%s port=%d\n", who, host, numeric, port);
    }
    // Close-on-exec: a process the host starts must not inherit the session.
    // Non-blocking until connected, so that the try can be given up.
    const int sock = socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, entry->ai_protocol);
    if (sock < 0) {
      const int err = errno;
      logaddrinfo(host, entry);
      logit("%s:%s: socket call failed, errno=%d (%s)\n", who, host, err, sockErrorText(err));
      failure = err == EAFNOSUPPORT ? TELNET_NO_IPSTACK : TELNET_CONN_ERR;
      continue;
    }
    if (telnet_getDebugLevel() >= 1) logit("%s:%d: now calling connect\n", who, sock);
    if (connectWithin(sock, entry->ai_addr, entry->ai_addrlen, timeoutMillis) == 0) {
      if (setBlocking(sock, true)) return sock;
      const int err = errno;
      logit("%s:%d: blocking mode failed, errno=%d (%s)\n", who, sock, err, sockErrorText(err));
      close(sock);
      return TELNET_CONN_ERR;
    }
    const int err = errno;
    logit("%s:%d: connect to %s port %d failed, errno=%d (%s)\n", who, sock, numeric, port, err, sockErrorText(err));
    close(sock);
    failure = TELNET_CONN_ERR;
  }
  return failure;
}

int net_connect(const char* who, const char* host, int port, int timeoutSecs) {
  if (host == nullptr || *host == '\0') return TELNET_BAD_HOST;
  char service[32];
  std::snprintf(service, sizeof service, "%d", port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  const int rc = getaddrinfo(host, service, &hints, &raw);
  if (rc != 0) {
    logit("%s:%s: getaddrinfo call failed, rc=%d (%s)\n", who, host, rc, gai_strerror(rc));
    return TELNET_BAD_HOST;
  }
  const AddrInfoList list(raw);
  if (!list) {
    logit("%s:%s: getaddrinfo returned no address\n", who, host);
    return TELNET_BAD_HOST;
  }
  return connectFirst(who, host, list.get(), timeoutSecs);
}
