// The command/response exchange, its status mapping and the error text.
#include "core/exchange.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "com/secrets.h"
#include "core/iostatus.h"
#include "fixture.h"

namespace {

using switchtest::LogCapture;

// --- io_mapTelnetStatus ---------------------------------------------------------

TEST(MapTelnetStatus, EveryCodeAndUnknownOnes) {
  const struct {
    int telnet;
    int io;
  } rows[] = {
      {TELNET_SUCCESS, IO_SUCCESS},         {TELNET_BAD_HOST, IO_BAD_SWITCH_LOGIN},
      {TELNET_CONN_ERR, IO_CONN_ERR},       {TELNET_CONN_LOST, IO_CONN_LOST},
      {TELNET_TIMEOUT, IO_TIMEOUT},         {TELNET_BAD_HANDLE, IO_CONN_LOST},
      {TELNET_NO_MATCH, IO_UPDATE_ERR},     {TELNET_REGEX_ERR, IO_UPDATE_ERR},
      {TELNET_BAD_BUFFER, IO_BAD_PARAMS},   {TELNET_BAD_STRING, IO_BAD_PARAMS},
      {TELNET_BAD_INIT, IO_UPDATE_ERR},     {TELNET_NO_IPSTACK, IO_NO_IPSTACK},
      {-12, IO_UPDATE_ERR},                 {7, IO_UPDATE_ERR},
  };
  for (const auto& r : rows) EXPECT_EQ(io_mapTelnetStatus(r.telnet), r.io) << "telnet status " << r.telnet;
}

// --- io_errorText -------------------------------------------------------------------

TEST(ErrorText, BothFormsAndTheirBounds) {
  const std::string longText(2000, 'x');
  const struct {
    const char* what;
    const char* ip;
    const char* switchText;
    int size;
    std::string expected;
  } rows[] = {
      {"short form without switch text", "10.1.1.1", nullptr, 1000,
       "Error: Brocade switch=10.1.1.1: Telnet timeout (IO_TIMEOUT)"},
      {"empty switch text is the short form", "10.1.1.1", "", 1000,
       "Error: Brocade switch=10.1.1.1: Telnet timeout (IO_TIMEOUT)"},
      {"long form quotes the switch", "10.1.1.1", "login: ", 1000,
       "Error: Brocade switch=10.1.1.1: Telnet timeout (IO_TIMEOUT) \nSWITCH TEXT=\n\"login: \""},
      {"no address", nullptr, nullptr, 1000, "Error: Brocade switch=Unknown switch: Telnet timeout (IO_TIMEOUT)"},
      {"cut to size - 1", "10.1.1.1", nullptr, 10, "Error: Br"},
      {"size 1 gives an empty text", "10.1.1.1", "abc", 1, ""},
      {"999 characters at most", "10.1.1.1", longText.c_str(), 1000,
       ("Error: Brocade switch=10.1.1.1: Telnet timeout (IO_TIMEOUT) \nSWITCH TEXT=\n\"" + longText).substr(0, 999)},
  };
  for (const auto& r : rows) {
    std::vector<char> buf(static_cast<std::size_t>(r.size) + 8, '#');
    io_errorText("Brocade", r.ip, IO_TIMEOUT, r.switchText, buf.data(), r.size);
    EXPECT_EQ(std::string(buf.data()), r.expected) << r.what;
    EXPECT_EQ(buf[static_cast<std::size_t>(r.size)], '#') << r.what << ": wrote past the buffer";
  }
}

TEST(ErrorText, NullBufferOrZeroSizeIsLeftAlone) {
  io_errorText("Cisco", "h", IO_TIMEOUT, "x", nullptr, 100);  // must not crash
  char buf[4] = {'a', 'b', 'c', '\0'};
  io_errorText("Cisco", "h", IO_TIMEOUT, "x", buf, 0);
  EXPECT_STREQ(buf, "abc");
}

// --- io_cmd_resp ---------------------------------------------------------------------

// A connected pair of sockets: the library's end (non-blocking, as telnet_open
// leaves a session) and the switch's end that the test writes to and reads.
class Exchange : public LogCapture {
 protected:
  void SetUp() override {
    LogCapture::SetUp();
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0);
    fcntl(fds_[0], F_SETFL, fcntl(fds_[0], F_GETFL) | O_NONBLOCK);
  }
  void TearDown() override {
    for (int fd : fds_) {
      if (fd >= 0) close(fd);
    }
    LogCapture::TearDown();
  }
  int handle() const { return fds_[0]; }
  void switchSays(const std::string& text) { ASSERT_EQ(write(fds_[1], text.data(), text.size()), (ssize_t)text.size()); }
  std::string switchGot() {
    fcntl(fds_[1], F_SETFL, fcntl(fds_[1], F_GETFL) | O_NONBLOCK);
    char buf[1000];
    const ssize_t n = read(fds_[1], buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
  }
  void hangUp() {
    close(fds_[1]);
    fds_[1] = -1;
  }

  int fds_[2] = {-1, -1};
  char resp_[1000] = {};
};

TEST_F(Exchange, RefusesBadArraysAndIndexesBeforeTypingAnything) {
  std::vector<const char*> p25(25, "x");
  p25.push_back(nullptr);
  const char* empty[] = {nullptr};
  const char* two[] = {"a", "b", nullptr};
  const struct {
    const char* what;
    const char* const* exp;
    int expIndex;
    const char* line;
  } rows[] = {
      {"null array", nullptr, -1, "error: exp_array is NULL"},
      {"empty array", empty, -1, "error: exp_array has 0 entries"},
      {"25 patterns", p25.data(), -1, "error: exp_array has 25 entries"},
      {"index equal to the count", two, 2, "error: exp_index=2 out of range (exp_array has 2 entries\n"},
      {"index below -1", two, -2, "error: exp_index=-2 out of range"},
  };
  for (const auto& r : rows) {
    testsupport::capture_clear();
    EXPECT_EQ(io_cmd_resp(handle(), "cmd\r", r.exp, 1, 0, resp_, sizeof resp_, r.expIndex, 0), IO_BAD_PARAMS)
        << r.what;
    EXPECT_EQ(testsupport::capture_count(r.line), 1) << r.what << "\n" << logText();
    EXPECT_EQ(testsupport::capture_count("telnet_write"), 0) << r.what;
  }
  EXPECT_EQ(switchGot(), "");
  testsupport::capture_clear();
  io_cmd_resp(handle(), nullptr, p25.data(), 1, 0, resp_, sizeof resp_, -1, 0);
  EXPECT_EQ(testsupport::capture_count("exp_array["), 25) << "every pattern is logged before the refusal";
}

TEST_F(Exchange, TwentyFourPatternsAreAcceptedAndTheLastCanMatch) {
  std::vector<const char*> p(23, "never");
  p.push_back("Password");
  p.push_back(nullptr);
  switchSays("Password: ");
  EXPECT_EQ(io_cmd_resp(handle(), nullptr, p.data(), 5, 0, resp_, sizeof resp_, 23, 0), 23);
  EXPECT_STREQ(resp_, "Password");
}

TEST_F(Exchange, TypesTheCommandAndLogsTheMatch) {
  const char* exp[] = {"login", ".*Firewall.*", nullptr};
  switchSays("switch login: ");
  EXPECT_EQ(io_cmd_resp(handle(), "admin\r\n", exp, 5, 0, resp_, sizeof resp_, 0, 0), 0);
  EXPECT_EQ(switchGot(), "admin\r\n");
  const std::string log = logText();
  EXPECT_NE(log.find("modburn:io_cmd_resp:" + std::to_string(handle()) + ": cmd=\"admin\\r\\n\" timeout=5\n"),
            std::string::npos) << log;
  EXPECT_NE(log.find(": exp_array[1]=.*Firewall.*\n"), std::string::npos);
  EXPECT_NE(log.find(": telnet_write: \"admin\\r\\n\"\n"), std::string::npos);
  EXPECT_NE(log.find(": telnet_expect matched item 0 (\"login\")\n"), std::string::npos);
  EXPECT_NE(log.find("\n                       matched string=\"login\"\n"), std::string::npos);
  EXPECT_NE(log.find(": returning 0 (MATCH INDEX)\n"), std::string::npos);
  EXPECT_EQ(log.find("WRONG"), std::string::npos);
}

TEST_F(Exchange, AnotherIndexThanExpectedIsReturnedWithAWarning) {
  const char* exp[] = {"ok", "maybe", "Error.*", nullptr};
  switchSays("Error: no\n");
  EXPECT_EQ(io_cmd_resp(handle(), "go\r", exp, 5, 0, resp_, sizeof resp_, 0, 0), 2);
  const std::string log = logText();
  EXPECT_NE(log.find(": telnet_expect:go\\r: MATCHED WRONG PATTERN: \n"), std::string::npos) << log;
  EXPECT_NE(log.find("                       expected 0 (ok) - matched 2 (\"Error.*\")\n"), std::string::npos);
}

TEST_F(Exchange, NullCommandOnlyWaitsAfterThePause) {
  const char* exp[] = {"#", nullptr};
  switchSays("# ");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(io_cmd_resp(handle(), nullptr, exp, 5, 0, nullptr, 0, -1, 0), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(switchGot(), "");
  EXPECT_EQ(testsupport::capture_count("cmd=\"(NULL)\" timeout=5"), 1) << logText();
  EXPECT_EQ(testsupport::capture_count("telnet_write"), 0);
  EXPECT_EQ(testsupport::capture_count("matched string"), 0) << "no response buffer, no response line";
}

TEST_F(Exchange, SilenceIsATimeOutWithTheLastResponse) {
  modburn::set_time_scale(0.05);
  const char* exp[] = {"never", nullptr};
  switchSays("something else\n");
  EXPECT_EQ(io_cmd_resp(handle(), "x\r", exp, 2, 0, resp_, sizeof resp_, 0, 0), IO_TIMEOUT);
  EXPECT_STREQ(resp_, "something else\n");
  EXPECT_EQ(testsupport::capture_count(": telnet_expect:x\\r: TIMEOUT\n"), 1) << logText();
  EXPECT_EQ(testsupport::capture_count("          last response=\"something else\\n\"\n"), 1) << logText();
}

TEST_F(Exchange, LostConnectionAndFailedWriteAreMapped) {
  const char* exp[] = {"never", nullptr};
  hangUp();
  EXPECT_EQ(io_cmd_resp(handle(), nullptr, exp, 5, 0, resp_, sizeof resp_, 0, 0), IO_CONN_LOST);
  EXPECT_EQ(testsupport::capture_count("telnet_expect:(NULL): error=-3 (Connection lost)"), 1) << logText();

  testsupport::capture_clear();
  EXPECT_EQ(io_cmd_resp(-1, "x\r", exp, 5, 0, resp_, sizeof resp_, 0, 0), IO_CONN_LOST);
  EXPECT_EQ(testsupport::capture_count("modburn:io_cmd_resp:-1: telnet_write:x\\r: returned -5 (Bad telnet handle)"),
            1) << logText();
}

TEST_F(Exchange, RegisteredSecretsNeverReachTheLog) {
  // The password is long enough that the 200-byte quote cuts it: even its
  // first characters must not show.
  const std::string pw = "Pa5s" + std::string(250, 'w');
  const modburn::SecretScope scope{pw};
  const char* exp[] = {"#", nullptr};
  switchSays(pw + "\r\nswitch# ");
  EXPECT_EQ(io_cmd_resp(handle(), (pw + "\r\n").c_str(), exp, 5, 0, resp_, sizeof resp_, 0, 0), 0);
  const std::string log = logText();
  EXPECT_EQ(log.find("Pa5s"), std::string::npos) << log;
  EXPECT_NE(log.find("cmd=\"****"), std::string::npos) << log;
}

}  // namespace
