// Consoles that never stop talking: every read and every wait still ends
// within a few of its time-outs, whatever the switch keeps sending.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "telnet_fixture.h"

using testsupport::capture_text;
using Clock = std::chrono::steady_clock;

namespace {

// A console on one end of a socket pair that sends its opening once and then
// its unit again and again, every everyMs, until the test is done with it or
// 10 s have passed; then it closes.
class EndlessConsole {
 public:
  EndlessConsole(std::string opening, std::string unit, int everyMs) {
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds_) != 0) return;
    writer_ = std::thread([this, opening = std::move(opening), unit = std::move(unit), everyMs] {
      sendAll(opening);
      const auto end = Clock::now() + std::chrono::seconds(10);
      while (!done_ && Clock::now() < end) {
        sendAll(unit);
        std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
      }
      shutdown(fds_[1], SHUT_WR);
    });
  }
  ~EndlessConsole() {
    done_ = true;
    if (writer_.joinable()) writer_.join();
    for (int fd : fds_) {
      if (fd >= 0) close(fd);
    }
  }
  EndlessConsole(const EndlessConsole&) = delete;
  EndlessConsole& operator=(const EndlessConsole&) = delete;

  TelnetHandle handle() const { return fds_[0]; }

 private:
  void sendAll(const std::string& bytes) const {
    if (!bytes.empty()) send(fds_[1], bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  }

  int fds_[2] = {-1, -1};
  std::atomic<bool> done_{false};
  std::thread writer_;
};

const std::string kSubnegotiation = bytes({255, 250, 24});  // IAC SB TTYPE, never an IAC SE

struct EndlessCase {
  const char* name;
  std::string opening;  // sent once
  std::string unit;     // then sent for ever
  int everyMs;
  bool expect;          // telnet_expect for "login" rather than telnet_readline
  int timeoutSecs;
  double scale;         // the time seam's factor
  int result;
  std::string text;     // the line read, or what expect hands back (its start, with textIsPrefix)
  bool textIsPrefix;
  int withinMs;         // the call must end sooner (the console goes on for 10 s)
  int limitMs = 0;      // a line read within this limit (telnet_readline_within): it hands back its length
};

const EndlessCase kEndless[] = {
    // 2 s scaled to 0.2 s: the subnegotiation ends the read after four of them.
    {"SubnegotiationWithoutEndEndsALineRead", kSubnegotiation, "q", 5, false, 2, 0.1, TELNET_TIMEOUT, "", false,
     2000},
    {"SubnegotiationWithoutEndEndsAnExpect", kSubnegotiation, "q", 5, true, 2, 0.1, TELNET_TIMEOUT, "", false, 2000},
    // Inside a line it ends the line after four gaps (1 s).
    {"SubnegotiationAfterTextEndsTheLine", "abc" + kSubnegotiation, "q", 5, false, 2, 0.1, 3, "abc", false, 2500},
    // A byte every 20 ms, never a line end: one line would take 200 s to fill.
    // The wait's limit (120 s scaled to 1.2 s) ends it in the middle of the
    // line, and the dripped text is handed back.
    {"DripEndsAnExpectAtItsLimit", "", "d", 20, true, 30, 0.01, TELNET_TIMEOUT, "dddd", true, 3000},
    // The same drip read as one line within 300 ms: the line ends there.
    {"DripEndsALineReadAtItsLimit", "", "d", 20, false, 30, 1, 0, "dddd", true, 1500, 300},
};

void PrintTo(const EndlessCase& c, std::ostream* os) { *os << c.name; }

class EndlessConsoles : public TelnetLogTest, public ::testing::WithParamInterface<EndlessCase> {};

}  // namespace

TEST_P(EndlessConsoles, EveryReadEndsInBoundedTime) {
  const EndlessCase& c = GetParam();
  modburn::set_time_scale(c.scale);
  telnet_setDebugLevel(2);
  EndlessConsole console(c.opening, c.unit, c.everyMs);
  ASSERT_GE(console.handle(), 0);
  std::string text(20000, '\0');
  const auto start = Clock::now();
  int rc = 0;
  if (c.expect) {
    const char* exp[] = {"login", nullptr};
    rc = telnet_expect(console.handle(), exp, c.timeoutSecs, 0, text.data(), 5000);
  } else if (c.limitMs > 0) {
    rc = telnet_readline_within(console.handle(), text.data(), 10000, c.timeoutSecs,
                                Clock::now() + std::chrono::milliseconds(c.limitMs));
  } else {
    rc = telnet_readline(console.handle(), text.data(), 10000, 0, c.timeoutSecs, 0);
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  const std::string got = text.c_str();
  EXPECT_EQ(rc, c.limitMs > 0 ? static_cast<int>(got.size()) : c.result);
  EXPECT_EQ(c.textIsPrefix ? got.substr(0, c.text.size()) : got, c.text);
  EXPECT_LT(ms, c.withinMs) << capture_text().substr(0, 2000);
}

INSTANTIATE_TEST_SUITE_P(Consoles, EndlessConsoles, ::testing::ValuesIn(kEndless),
                         [](const auto& info) { return std::string(info.param.name); });
