#include "core/addr.h"

#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/log.h"

namespace {

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// Asks the resolver whether text is a numeric address of family, without
// any name lookup.
int isNumericAddr(const char* name, const char* text, int family) {
  if (text == nullptr || *text == '\0') return 0;
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST;
  hints.ai_family = family;
  // One socket type, so that one numeric address gives one entry (the
  // resolver would otherwise list it once per socket type).
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(text, nullptr, &hints, &list);
  if (rc != 0) {
    io_log("modburn:%s: getaddrinfo(%s) failed - rc=%d (%s)\n", name, text, rc, gai_strerror(rc));
    return 0;
  }
  if (list != nullptr && list->ai_next != nullptr) {
    io_log("modburn:%s: getaddrinfo(%s) addrinfo->ai_next not NULL\n", name, text);
  }
  freeaddrinfo(list);
  return 1;
}

// A single-label host name: a letter, then letters, digits and underscores.
bool isHostName(const char* host) {
  if (!isAsciiLetter(*host)) return false;
  for (const char* p = host; *p != '\0'; ++p) {
    if (!isAsciiLetter(*p) && !isAsciiDigit(*p) && *p != '_') return false;
  }
  return true;
}

// Value of a port text: its leading decimal number (leading blanks and a
// sign allowed), clamped so that no text can overflow.
long portValue(const char* text) {
  errno = 0;
  const long v = std::strtol(text, nullptr, 10);
  if (errno == ERANGE) return v < 0 ? LONG_MIN : LONG_MAX;
  return v;
}

}  // namespace

int io_isValidIPv4Addr(const char* text) { return isNumericAddr("io_isValidIPv4Addr", text, AF_INET); }

int io_isValidIPv6Addr(const char* text) { return isNumericAddr("io_isValidIPv6Addr", text, AF_INET6); }

int io_classifyAddr(char* addr, char** host, char** portText, int* portNum) {
  if (addr == nullptr || *addr == '\0') return ADDR_INVALID;

  char* hostPart = addr;
  char* port = nullptr;
  int cls = ADDR_INVALID;
  if (*addr == '[') {
    char* close = std::strchr(addr, ']');
    if (close == nullptr) return ADDR_INVALID;
    *close = '\0';
    // Whatever stands between the bracket and the colon is ignored.
    if (char* colon = std::strchr(close + 1, ':')) {
      *colon = '\0';
      port = colon + 1;
    }
    hostPart = addr + 1;
    if (!io_isValidIPv6Addr(hostPart)) return ADDR_INVALID;
    cls = ADDR_IPV6;
  } else {
    if (std::strchr(addr, ']') != nullptr) return ADDR_INVALID;
    if (char* colon = std::strchr(addr, ':')) {
      *colon = '\0';
      port = colon + 1;
    }
    if (std::strchr(hostPart, '.') != nullptr) {
      if (!io_isValidIPv4Addr(hostPart)) return ADDR_INVALID;
      cls = ADDR_IPV4;
    } else {
      if (!isHostName(hostPart)) return ADDR_INVALID;
      cls = ADDR_HOSTNAME;
    }
  }

  long value = 0;
  if (port != nullptr) {
    value = portValue(port);
    if (value <= 0 || value > ADDR_MAX_PORT) return ADDR_INVALID;
  }
  if (host != nullptr) *host = hostPart;
  if (portText != nullptr) *portText = port;
  if (portNum != nullptr) *portNum = static_cast<int>(value);
  return cls;
}
