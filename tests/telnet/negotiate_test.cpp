#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/scripted_server.h"
#include "telnet_fixture.h"

using testsupport::capture_count;
using testsupport::capture_text;
using testsupport::ScriptedServer;
using testsupport::Step;

namespace {

// The server plays the script; the client reads one line with the given
// gap and then closes. Returns what the server received.
struct Session {
  std::string line;
  int result = 0;
  std::string reply;
  TelnetHandle handle = -1;
};

Session runSession(std::vector<Step> script) {
  Session s;
  ScriptedServer server(std::move(script));
  s.handle = telnet_open("127.0.0.1", server.port());
  if (s.handle < 0) return s;
  char buf[256];
  s.result = telnet_readline(s.handle, buf, sizeof buf, 0, 5, 0);
  if (s.result >= 0) s.line = buf;
  telnet_close(s.handle);
  s.reply = server.finish();
  return s;
}

struct NegotiationCase {
  const char* name;
  std::string request;  // sent between "a" and "b\n"
  std::string reply;    // what the client must answer
};

const NegotiationCase kPolicy[] = {
    {"DoTtypeIsRefused", bytes({255, 253, 24}), bytes({255, 252, 24})},
    {"DoEchoIsAccepted", bytes({255, 253, 1}), bytes({255, 251, 1})},
    {"DoExoplIsRefused", bytes({255, 253, 255}), bytes({255, 252, 255})},
    {"DoUnnamedOptionIsRefused", bytes({255, 253, 44}), bytes({255, 252, 44})},
    {"WillSgaIsRefused", bytes({255, 251, 3}), bytes({255, 254, 3})},
    {"WillBinaryIsRefused", bytes({255, 251, 0}), bytes({255, 254, 0})},
    {"WillEchoIsWelcomeSilently", bytes({255, 251, 1}), ""},
    {"WontEchoNeedsNoAnswer", bytes({255, 252, 1}), ""},
    {"WontSgaNeedsNoAnswer", bytes({255, 252, 3}), ""},
    {"DontEchoNeedsNoAnswer", bytes({255, 254, 1}), ""},
    {"DontTtypeNeedsNoAnswer", bytes({255, 254, 24}), ""},
    {"NopVanishes", bytes({255, 241}), ""},
    {"GaVanishes", bytes({255, 249}), ""},
    {"DoubledIacVanishes", bytes({255, 255}), ""},
    {"SubnegotiationVanishes", bytes({255, 250, 24, 1, 255, 240}), ""},
    {"SubnegotiationEndsAtFirstSe", bytes({255, 250, 24, 0, 'x', 't', 240}), ""},
    {"TwoRequestsBackToBack", bytes({255, 253, 24, 255, 251, 3}), bytes({255, 252, 24, 255, 254, 3})},
    {"LongSubnegotiationIsDroppedPastTheBuffer",
     bytes({255, 250, 24}) + std::string(300, 'z') + bytes({255, 240}), ""},
};

class TelnetPolicy : public TelnetLogTest, public ::testing::WithParamInterface<NegotiationCase> {};

}  // namespace

TEST_P(TelnetPolicy, AnswersAndTakesTheCommandOutOfTheText) {
  const NegotiationCase& c = GetParam();
  const Session s = runSession({Step::send("a" + c.request + "b\n")});
  ASSERT_GE(s.handle, 0);
  EXPECT_EQ(s.result, 3);
  EXPECT_EQ(s.line, "ab\n");
  EXPECT_EQ(s.reply, c.reply);
}

INSTANTIATE_TEST_SUITE_P(Requests, TelnetPolicy, ::testing::ValuesIn(kPolicy),
                         [](const auto& info) { return std::string(info.param.name); });

using TelnetNegotiation = TelnetLogTest;

TEST_F(TelnetNegotiation, TracesRequestAndReplyAtLevelTwo) {
  telnet_setDebugLevel(2);
  const Session s = runSession({Step::send("a" + bytes({255, 253, 24}) + "b\n")});
  const std::string h = std::to_string(s.handle);
  EXPECT_EQ(capture_count("telnet:" + h + ":REC: DO TTYPE\n"), 1) << capture_text();
  EXPECT_EQ(capture_count("telnet:" + h + ":SND: WONT TTYPE\n"), 1);
}

TEST_F(TelnetNegotiation, TracesNothingBelowLevelTwo) {
  telnet_setDebugLevel(1);
  runSession({Step::send("a" + bytes({255, 253, 24}) + "b\n")});
  EXPECT_EQ(capture_count("REC: DO"), 0);
  EXPECT_EQ(capture_count("SND: WONT"), 0);
}

TEST_F(TelnetNegotiation, UnnamedOptionIsReportedFromLevelZero) {
  for (int level : {-1, 0, 2}) {
    testsupport::capture_clear();
    telnet_setDebugLevel(level);
    const Session s = runSession({Step::send("a" + bytes({255, 253, 44}) + "b\n")});
    const std::string line = "handleServerCommand:" + std::to_string(s.handle) + ": DO: servcmd[2] bad option=44\n";
    EXPECT_EQ(capture_count(line), level >= 0 ? 1 : 0) << "level " << level;
    EXPECT_EQ(capture_count("Unknown option=44"), level >= 2 ? 2 : 0) << "level " << level;
  }
}

TEST_F(TelnetNegotiation, CommandSplitAcrossSegmentsIsCompleted) {
  const Session s = runSession({Step::send("a" + bytes({255})), Step::pause(100), Step::send(bytes({253, 24}) + "b\n")});
  EXPECT_EQ(s.line, "ab\n");
  EXPECT_EQ(s.reply, bytes({255, 252, 24}));
}

TEST_F(TelnetNegotiation, CommandCutByALongSilenceIsGivenUp) {
  // The rest of the command arrives too late and is taken as text.
  const Session s = runSession({Step::send(bytes({255})), Step::pause(600), Step::send(bytes({253, 24}) + "b\n")});
  EXPECT_EQ(s.line, bytes({253, 24}) + "b\n");
  EXPECT_EQ(s.reply, "");
}

struct NameCase {
  int byte;
  const char* command;
  const char* option;
};

const NameCase kNames[] = {
    {0, "Unknown Command=0", "BINARY"},       {1, "Unknown Command=1", "ECHO"},
    {24, "Unknown Command=24", "TTYPE"},      {29, "Unknown Command=29", "3270REGIME"},
    {39, "Unknown Command=39", "NEW_ENV"},    {40, "Unknown Command=40", "Unknown option=40"},
    {200, "Unknown Command=200", "Unknown option=200"},
    {235, "Unknown Command=235", "Unknown option=235"},
    {236, "xEOF", "Unknown option=236"},      {240, "SE", "Unknown option=240"},
    {241, "NOP", "Unknown option=241"},       {249, "GA", "Unknown option=249"},
    {250, "SB", "Unknown option=250"},        {251, "WILL", "Unknown option=251"},
    {252, "WONT", "Unknown option=252"},      {253, "DO", "Unknown option=253"},
    {254, "DONT", "Unknown option=254"},      {255, "IAC", "EXOPL"},
};

TEST(TelnetNames, CommandAndOptionTables) {
  for (const auto& row : kNames) {
    const auto b = static_cast<unsigned char>(row.byte);
    EXPECT_STREQ(telcmdName(b), row.command) << row.byte;
    EXPECT_STREQ(teloptName(b), row.option) << row.byte;
  }
}

TEST_F(TelnetNegotiation, SendTraceNamesEveryCommandInTheBuffer) {
  telnet_setDebugLevel(2);
  const unsigned char buf[] = {'x', 255, 251, 1, 'y', 255, 252, 31, 255, 253};
  traceSend(7, buf, sizeof buf);
  EXPECT_EQ(capture_text(), "telnet:7:SND: WILL ECHO\ntelnet:7:SND: WONT NAWS\n");
}

TEST_F(TelnetNegotiation, ShortSendIsAFailureWithAWarningAtLevelTwo) {
  telnet_setDebugLevel(2);
  ScriptedServer server({Step::sleep(500)});
  const TelnetHandle h = telnet_open("127.0.0.1", server.port());
  ASSERT_GE(h, 0);
  const int small = 4096;
  setsockopt(h, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  const std::vector<unsigned char> big(4 << 20, 'q');
  EXPECT_EQ(sendToServer(h, big.data(), static_cast<int>(big.size())), -1);
  EXPECT_EQ(capture_count("Warning: sendToServer:" + std::to_string(h) + ": send: In bytes=4194304 Outbytes="), 1)
      << capture_text();
  // telnet_write reports a short send as a lost connection.
  const std::string text(4 << 20, 'w');
  EXPECT_EQ(telnet_write(h, text.c_str()), TELNET_CONN_LOST);
  telnet_close(h);
}

// A switch that floods option requests and never reads the answers: once
// no room is left to answer, the read fails instead of holding the caller.
TEST_F(TelnetLogTest, AnswersThatFindNoRoomEndTheRead) {
  modburn::set_time_scale(0.01);  // 30 s without room: 0.3 s
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  int small = 4096;
  setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  std::atomic<bool> done{false};
  std::thread flood([&] {
    const std::string doEcho("\xff\xfd\x18", 3);  // DO TTYPE: refused with WONT TTYPE, each time
    std::string burst;
    for (int i = 0; i < 1000; ++i) burst += doEcho;
    while (!done) {
      if (send(fds[1], burst.data(), burst.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) usleep(1000);
    }
  });
  const auto start = std::chrono::steady_clock::now();
  char line[100];
  const int rc = telnet_readline(fds[0], line, sizeof line, 0, 100, 0);
  const auto spent = std::chrono::steady_clock::now() - start;
  done = true;
  flood.join();
  close(fds[0]);
  close(fds[1]);
  EXPECT_LT(rc, 0);
  EXPECT_LT(spent, std::chrono::seconds(10));
  EXPECT_EQ(capture_count("no room to send for 30 seconds"), 1) << capture_text();
}
