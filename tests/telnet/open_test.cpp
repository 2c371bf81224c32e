#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

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
  EXPECT_EQ(capture_count(": connect to 127.0.0.1 port " + std::to_string(port) +
                          " failed, errno=111 (Connection refused)\n"),
            1)
      << capture_text();
}

namespace {

// A loopback listener that answers no connection: its queue of one is taken
// by a connection that is never accepted, so the next connect gets no answer.
struct SilentListener {
  SilentListener() {
    listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sin;
    if (bind(listener, reinterpret_cast<sockaddr*>(&sin), len) != 0 || listen(listener, 0) != 0) return;
    getsockname(listener, reinterpret_cast<sockaddr*>(&sin), &len);
    port = ntohs(sin.sin_port);
    filler = socket(AF_INET, SOCK_STREAM, 0);
    connect(filler, reinterpret_cast<sockaddr*>(&sin), len);
  }
  ~SilentListener() {
    close(filler);
    close(listener);
  }
  int listener = -1, filler = -1, port = 0;
};

// One resolver entry of a hand-made list.
struct Entry {
  const char* address;  // numeric, IPv4 or IPv6
  int port;
};

}  // namespace

// Every address of the list is tried in turn: one that refuses, has no
// answer (given up after the time-out, 2 s scaled to 0.2 s) or is an IPv6
// address nobody listens on is passed over, and each failed try is logged.
TEST_F(TelnetOpen, EachAddressIsTriedInTurnWithinTheTimeOut) {
  modburn::set_time_scale(0.1);
  ScriptedServer server({Step::send("hi\n")});
  const SilentListener silent;
  ASSERT_GT(silent.port, 0);
  const int refused = testsupport::refused_port();
  const int live = server.port();
  const struct {
    const char* name;
    std::vector<Entry> entries;
    int connectsTo;  // index of the entry that connects, or -1
    int result;      // when none does
    std::vector<std::string> failures;
  } rows[] = {
      {"IPv6 refused, then IPv4", {{"::1", refused}, {"127.0.0.1", live}}, 1, 0,
       {"connect to ::1 port " + std::to_string(refused) + " failed, errno=111 (Connection refused)"}},
      {"silent, then live", {{"127.0.0.1", silent.port}, {"127.0.0.1", live}}, 1, 0,
       {"connect to 127.0.0.1 port " + std::to_string(silent.port) + " failed, errno=110 (Connection timed out)"}},
      {"live first", {{"127.0.0.1", live}, {"::1", refused}}, 0, 0, {}},
      {"none answers", {{"::1", refused}, {"127.0.0.1", silent.port}}, -1, TELNET_CONN_ERR,
       {"connect to ::1 port " + std::to_string(refused) + " failed, errno=111",
        "connect to 127.0.0.1 port " + std::to_string(silent.port) + " failed, errno=110"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    testsupport::capture_clear();
    std::vector<sockaddr_storage> addrs(row.entries.size());
    std::vector<addrinfo> list(row.entries.size());
    for (std::size_t i = 0; i < row.entries.size(); ++i) {
      const bool v6 = std::string(row.entries[i].address).find(':') != std::string::npos;
      auto* in4 = reinterpret_cast<sockaddr_in*>(&addrs[i]);
      auto* in6 = reinterpret_cast<sockaddr_in6*>(&addrs[i]);
      if (v6) {
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(static_cast<uint16_t>(row.entries[i].port));
        inet_pton(AF_INET6, row.entries[i].address, &in6->sin6_addr);
      } else {
        in4->sin_family = AF_INET;
        in4->sin_port = htons(static_cast<uint16_t>(row.entries[i].port));
        inet_pton(AF_INET, row.entries[i].address, &in4->sin_addr);
      }
      list[i].ai_family = v6 ? AF_INET6 : AF_INET;
      list[i].ai_socktype = SOCK_STREAM;
      list[i].ai_addrlen = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
      list[i].ai_addr = reinterpret_cast<sockaddr*>(&addrs[i]);
      list[i].ai_next = i + 1 < list.size() ? &list[i + 1] : nullptr;
    }
    const int before = openDescriptors();
    const auto start = std::chrono::steady_clock::now();
    const int sock = connectFirst("test", "sw", list.data(), 2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    if (row.connectsTo < 0) {
      EXPECT_EQ(sock, row.result);
      EXPECT_EQ(openDescriptors(), before) << "a failed try left its socket open";
    } else {
      ASSERT_GE(sock, 0) << capture_text();
      sockaddr_storage peer{};
      socklen_t len = sizeof peer;
      ASSERT_EQ(getpeername(sock, reinterpret_cast<sockaddr*>(&peer), &len), 0);
      EXPECT_EQ(ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port), row.entries[row.connectsTo].port);
      EXPECT_EQ(fcntl(sock, F_GETFL, 0) & O_NONBLOCK, 0) << "handed over in blocking mode";
      EXPECT_NE(fcntl(sock, F_GETFD, 0) & FD_CLOEXEC, 0);
      close(sock);
    }
    EXPECT_EQ(capture_count(" failed, errno="), static_cast<int>(row.failures.size())) << capture_text();
    for (const std::string& failure : row.failures) EXPECT_EQ(capture_count(failure), 1) << capture_text();
  }
}

TEST_F(TelnetOpen, AnAddressThatDoesNotAnswerIsGivenUpAfterTheConnectTimeOut) {
  modburn::set_time_scale(0.01);  // 15 s: 0.15 s
  const SilentListener silent;
  ASSERT_GT(silent.port, 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(telnet_open("127.0.0.1", silent.port), TELNET_CONN_ERR);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(capture_count("failed, errno=110 (Connection timed out)\n"), 1) << capture_text();
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

TEST_F(TelnetOpen, PortZeroMeansTelnetsOwnPort) {
  telnet_setDebugLevel(1);
  // Refused or connected, the port in the address line is what counts.
  const TelnetHandle h = telnet_open("127.0.0.1", 0);
  if (h >= 0) telnet_close(h);
  EXPECT_EQ(capture_count("telnet_open:127.0.0.1: IP Address=127.0.0.1 port=23\n"), 1) << capture_text();
}

TEST(TelnetAiFlags, NamesTheThreeKnownBits) {
  const struct {
    int flags;
    const char* text;
  } cases[] = {
      {0, ""},
      {AI_PASSIVE, "PASSIVE"},
      {AI_CANONNAME, "CANONNAME"},
      {AI_NUMERICHOST, "NUMERICHOST"},
      {AI_PASSIVE | AI_CANONNAME | AI_NUMERICHOST, "PASSIVE CANONNAME NUMERICHOST"},
      {AI_PASSIVE | AI_NUMERICHOST | 0x400, "PASSIVE NUMERICHOST"},
  };
  for (const auto& c : cases) {
    char out[200];
    EXPECT_STREQ(aiFlagsText(c.flags, out, sizeof out), c.text) << c.flags;
  }
  char small[8];
  EXPECT_STREQ(aiFlagsText(AI_CANONNAME, small, sizeof small), "CANONNA");
}

TEST_F(TelnetOpen, ResolverEntryDumpAtLevelTwoOnly) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addrinfo ai{};
  ai.ai_flags = AI_CANONNAME;
  ai.ai_family = AF_INET;
  ai.ai_socktype = SOCK_STREAM;
  ai.ai_protocol = 6;
  ai.ai_addrlen = sizeof sin;
  ai.ai_addr = reinterpret_cast<sockaddr*>(&sin);
  char canon[] = "sw1";
  ai.ai_canonname = canon;

  telnet_setDebugLevel(1);
  logaddrinfo("sw1", &ai);
  EXPECT_TRUE(capture_entries().empty());

  telnet_setDebugLevel(2);
  logaddrinfo("sw1", &ai);
  const auto lines = capture_entries();
  ASSERT_EQ(lines.size(), 9u) << capture_text();
  EXPECT_EQ(lines[0].rfind("telnet_open:sw1: logaddrinfo: addrinfo=0x", 0), 0u);
  EXPECT_EQ(lines[1], "  ai_flags=0x2 (CANONNAME)\n");
  EXPECT_EQ(lines[2], "  ai_family=" + std::to_string(AF_INET) + " (AF_INET)\n");
  EXPECT_EQ(lines[3], "  ai_socktype=" + std::to_string(SOCK_STREAM) + " (SOCK_STREAM)\n");
  EXPECT_EQ(lines[4], "  ai_protocol=6 (TCP)\n");
  EXPECT_EQ(lines[5].find(" ai_addrlen=16\n") != std::string::npos, true) << lines[5];
  EXPECT_EQ(lines[6], "  (destname=127.0.0.1)\n");
  EXPECT_EQ(lines[7], "  ai_canonname=sw1\n");
  EXPECT_EQ(lines[8], "  ai_next=0x0\n");

  testsupport::capture_clear();
  ai.ai_family = AF_UNIX;
  ai.ai_socktype = 77;
  ai.ai_protocol = 17;
  logaddrinfo("sw1", &ai);
  const std::string text = capture_text();
  EXPECT_NE(text.find("(UNKNOWN FAMILY)"), std::string::npos);
  EXPECT_NE(text.find("  ai_socktype=77 (UNKNOWN SOCKTYPE)\n"), std::string::npos);
  EXPECT_NE(text.find("  ai_protocol=17 (UDP)\n"), std::string::npos);
}
