// Fuzzes the TELNET receive path: negotiation, line assembly and expect, on
// a stream of console bytes fed through a socket pair and then closed.
// Input: one byte choosing the expect array, then the console output. Every
// log entry is checked for the registered secret, which the input may hold.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "com/secrets.h"
#include "com/timescale.h"
#include "telnet/telnet.h"
#include "fuzz_support.h"

using fuzzsupport::require;

namespace {

constexpr const char* kSecret = "Sw1tch-Pw";

// Every entry of the telnet layer, formatted whole: none may hold the secret.
void checkingSink(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  const std::string entry = fuzzsupport::formatted(format, ap);
  va_end(ap);
  require(entry.find(kSecret) == std::string::npos);
}

const char* const kArrays[][6] = {
    {"login", ".*Firewall.*", nullptr},
    {".*>", ".*incorrect.*", "change your password", nullptr},
    {"Firmwaredownload.*successfully", "\\.", "^[\\s]*#+", "[\\S-]+", "\r", nullptr},
    {".*\\(No such file.*\\)", "%.*", "ERROR:.*", "Percent complete: [\\d]+", nullptr},
    {"[unbalanced", "login", nullptr},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 100000) return 0;
  static const bool ready = [] {
    modburn::set_time_scale(0.001);
    modburn::set_gap_scale(0.001);
    telnet_setLogSink(checkingSink);
    telnet_setDebugLevel(2);
    return true;
  }();
  (void)ready;
  const modburn::SecretScope secret{kSecret};
  const auto& patterns = kArrays[data[0] % (sizeof kArrays / sizeof kArrays[0])];

  int fds[2];
  require(socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0);
  // The whole output is in the pipe before the client reads, then the switch hangs up.
  int sndbuf = 1 << 20;
  setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
  require(send(fds[1], data + 1, size - 1, MSG_NOSIGNAL) == static_cast<ssize_t>(size - 1));
  shutdown(fds[1], SHUT_WR);

  char out[300];
  for (int rounds = 0; rounds < 100000; ++rounds) {
    std::memset(out, 'x', sizeof out);
    const int rc = telnet_expect(fds[0], patterns, 1, 0, out, sizeof out);
    // A match or a time-out hands back a terminated text; other failures leave the buffer alone.
    if (rc >= 0 || rc == TELNET_TIMEOUT) require(std::memchr(out, '\0', sizeof out) != nullptr);
    if (rc < 0) {
      require(rc >= TELNET_NO_IPSTACK);
      break;
    }
    int count = 0;
    while (patterns[count] != nullptr) ++count;
    require(rc < count);
  }
  close(fds[0]);
  close(fds[1]);
  return 0;
}
