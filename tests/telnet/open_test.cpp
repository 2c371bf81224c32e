#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/scripted_server.h"
#include "telnet_fixture.h"

using testsupport::capture_count;
using testsupport::capture_entries;
using testsupport::capture_text;
using testsupport::ScriptedServer;
using testsupport::Step;

namespace {

int openDescriptors() {
  int count = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++count;
    closedir(d);
  }
  return count;
}

}  // namespace

using TelnetOpen = TelnetLogTest;

TEST_F(TelnetOpen, MissingHostIsRefusedWithoutALogLine) {
  telnet_setDebugLevel(2);
  EXPECT_EQ(telnet_open(nullptr, 0), TELNET_BAD_HOST);
  EXPECT_EQ(telnet_open("", 23), TELNET_BAD_HOST);
  EXPECT_TRUE(capture_entries().empty());
}

TEST_F(TelnetOpen, UnresolvableNameGivesBadHostAfterTheResolverLine) {
  EXPECT_EQ(telnet_open("no-such-switch.invalid", 0), TELNET_BAD_HOST);
  EXPECT_EQ(capture_count("telnet_open:no-such-switch.invalid: using IPV6 APIs\n"), 1);
  EXPECT_EQ(capture_count("telnet_open:no-such-switch.invalid: getaddrinfo call failed, rc="), 1);
}

struct OpenCase {
  const char* name;
  const char* host;
  bool ipv6;
  int level;
};

class TelnetOpenConnects : public TelnetLogTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(TelnetOpenConnects, ReachesTheServerAndLogsByLevel) {
  const OpenCase& c = GetParam();
  telnet_setDebugLevel(c.level);
  ScriptedServer server({Step::send("hi\n")}, c.ipv6);
  ASSERT_TRUE(server.listening());
  const TelnetHandle h = telnet_open(c.host, server.port());
  ASSERT_GE(h, 0) << capture_text();
  char line[16];
  EXPECT_EQ(telnet_readline(h, line, sizeof line, 0, 5, 0), 3);
  EXPECT_STREQ(line, "hi\n");
  EXPECT_EQ(telnet_close(h), TELNET_SUCCESS);
  EXPECT_TRUE(server.sawClientClose());

  const std::string port = std::to_string(server.port());
  const std::string host = c.host;
  EXPECT_EQ(capture_count("telnet_open:" + host + ": using IPV6 APIs\n"), 1);
  const int atOne = c.level >= 1 ? 1 : 0;
  const int atTwo = c.level >= 2 ? 1 : 0;
  EXPECT_EQ(capture_count("telnet_open:" + host + ": IP Address=" + host + " port=" + port + "\n"), atOne);
  EXPECT_EQ(capture_count("telnet_open:" + std::to_string(h) + ": now calling connect\n"), atOne);
  EXPECT_EQ(capture_count("telnet_open:" + std::to_string(h) + ": now sending initial telnet options\n"), atTwo);
  EXPECT_EQ(capture_count("telnet_open:" + std::to_string(h) + ": returns successfully\n"), atOne);
  EXPECT_EQ(capture_count("telnet_close: closing handle " + std::to_string(h) + "\n"), atOne);
}

INSTANTIATE_TEST_SUITE_P(Hosts, TelnetOpenConnects,
                         ::testing::Values(OpenCase{"v4_level0", "127.0.0.1", false, 0},
                                           OpenCase{"v4_level1", "127.0.0.1", false, 1},
                                           OpenCase{"v6_level2", "::1", true, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TelnetOpen, RefusedConnectionGivesConnErrAndClosesTheSocket) {
  const int port = testsupport::refused_port();
  const int before = openDescriptors();
  EXPECT_EQ(telnet_open("127.0.0.1", port), TELNET_CONN_ERR);
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_EQ(capture_count(": connect failed, errno=111 (Connection refused)\n"), 1) << capture_text();
}

TEST_F(TelnetOpen, SessionSocketIsNonBlocking) {
  ScriptedServer server({Step::pause(300)});
  const TelnetHandle h = telnet_open("127.0.0.1", server.port());
  ASSERT_GE(h, 0);
  char c;
  EXPECT_EQ(recv(h, &c, 1, 0), -1);
  EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
  telnet_close(h);
}

TEST_F(TelnetOpen, CloseOfANonSocketIsABadHandle) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_EQ(telnet_close(fds[0]), TELNET_BAD_HANDLE);
  EXPECT_EQ(telnet_close(-1), TELNET_BAD_HANDLE);
  EXPECT_EQ(capture_count("telnet_close: got BADHANDLE error\n"), 2);
  // The pipe was refused, not closed.
  EXPECT_EQ(close(fds[0]), 0);
  close(fds[1]);
}

TEST_F(TelnetOpen, CloseDeliversTheLastKeystrokeWhilePeerOutputIsUnread) {
  // The server floods output the client never reads and looks at its input
  // only after the client has closed: an abortive close would reset the
  // connection and throw the keystroke away with the server's queue.
  const std::string flood(8000, 'x');
  ScriptedServer server({Step::send(flood), Step::sleep(300)});
  const TelnetHandle h = telnet_open("127.0.0.1", server.port());
  ASSERT_GE(h, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the flood is queued at the client
  EXPECT_EQ(telnet_write(h, "y\r"), TELNET_SUCCESS);
  EXPECT_EQ(telnet_close(h), TELNET_SUCCESS);
  EXPECT_EQ(server.finish(), "y\r");
  EXPECT_TRUE(server.sawClientClose());
  EXPECT_FALSE(server.sawReset());
}

TEST_F(TelnetOpen, CloseWaitsForAQuietPeerOnlyBriefly) {
  ScriptedServer server({Step::sleep(1500)});
  const TelnetHandle h = telnet_open("127.0.0.1", server.port());
  ASSERT_GE(h, 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(telnet_close(h), TELNET_SUCCESS);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::milliseconds(1500));
}
