#include <chrono>
#include <cstring>
#include <thread>
#include <string>
#include <vector>

#include "com/secrets.h"
#include "support/scripted_server.h"
#include "telnet_fixture.h"

using testsupport::capture_count;
using testsupport::capture_entries;
using testsupport::capture_text;
using testsupport::ScriptedServer;
using testsupport::Step;
using Clock = std::chrono::steady_clock;

namespace {

// One telnet_readline call: buffer size, and the expected result and text.
struct ReadCall {
  int size;
  int result;
  std::string text;
};

struct LineCase {
  const char* name;
  std::vector<Step> script;
  std::vector<ReadCall> calls;
};

const LineCase kLines[] = {
    {"PromptWithoutLineEnd", {Step::send("Password: "), Step::pause(800)}, {{10000, 10, "Password: "}}},
    {"TwoCrLfLinesAtOnce", {Step::send("abc\r\ndef\r\n")}, {{10000, 5, "abc\r\n"}, {10000, 5, "def\r\n"}}},
    {"NulEndsTheLineAndIsDropped", {Step::send(std::string("ab\0cd\n", 6))}, {{10000, 2, "ab"}, {10000, 3, "cd\n"}}},
    {"NulFirstGivesAnEmptyLine", {Step::send(std::string("\0x\n", 3))}, {{10000, 0, ""}, {10000, 2, "x\n"}}},
    {"CarriageReturnDoesNotEndALine", {Step::send("ab\rcd\n")}, {{10000, 6, "ab\rcd\n"}}},
    {"LongLineComesInPieces",
     {Step::send("abcdefghij\n")},
     {{5, 4, "abcd"}, {5, 4, "efgh"}, {5, 3, "ij\n"}}},
    {"SilenceGapEndsTheLine",
     {Step::send("ab"), Step::pause(500), Step::send("cd\n")},
     {{10000, 2, "ab"}, {10000, 3, "cd\n"}}},
    {"ShortPauseDoesNotEndTheLine",
     {Step::send("ab"), Step::pause(60), Step::send("cd\n")},
     {{10000, 5, "abcd\n"}}},
    {"NegotiationInsideALine", {Step::send("ab" + bytes({255, 253, 24}) + "cd\n")}, {{10000, 5, "abcd\n"}}},
    {"NegotiationOnlyKeepsTheWaitGoing",
     {Step::pause(150), Step::send(bytes({255, 251, 1})), Step::pause(150), Step::send(bytes({255, 241})),
      Step::pause(150), Step::send("x\n")},
     {{10000, 2, "x\n"}}},
    {"ShutdownBeforeAnyByte", {Step::close()}, {{10000, TELNET_CONN_LOST, ""}}},
    {"ShutdownMidLineLosesTheLine", {Step::send("ab"), Step::hangUp()}, {{10000, TELNET_CONN_LOST, ""}}},
    {"LineThenShutdown", {Step::send("ab\n"), Step::hangUp()}, {{10000, 3, "ab\n"}, {10000, TELNET_CONN_LOST, ""}}},
};

class TelnetLineAssembly : public TelnetLogTest, public ::testing::WithParamInterface<LineCase> {};

}  // namespace

TEST_P(TelnetLineAssembly, ReturnsTheExpectedLines) {
  const LineCase& c = GetParam();
  LoopbackSession client(c.script);
  ASSERT_GE(client.handle, 0);
  for (std::size_t i = 0; i < c.calls.size(); ++i) {
    const ReadCall& call = c.calls[i];
    std::vector<char> buf(static_cast<std::size_t>(call.size), '#');
    const int r = telnet_readline(client.handle, buf.data(), call.size, 0, 5, 0);
    EXPECT_EQ(r, call.result) << "call " << i;
    if (r >= 0) {
      EXPECT_EQ(std::string(buf.data(), static_cast<std::size_t>(r)), call.text) << "call " << i;
      EXPECT_EQ(buf[static_cast<std::size_t>(r)], '\0') << "call " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Lines, TelnetLineAssembly, ::testing::ValuesIn(kLines),
                         [](const auto& info) { return std::string(info.param.name); });

using TelnetRead = TelnetLogTest;

TEST_F(TelnetRead, PromptEndsAboutAGapAfterItsLastCharacter) {
  LoopbackSession client({Step::send("Password: "), Step::pause(1500)});
  char buf[100];
  const auto start = Clock::now();
  EXPECT_EQ(telnet_readline(client.handle, buf, sizeof buf, 0, 60, 0), 10);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(ms, 240);
  EXPECT_LT(ms, 700);
}

TEST_F(TelnetRead, CallerGapReplacesTheDefault) {
  LoopbackSession client({Step::send("ab"), Step::pause(120), Step::send("cd\n")});
  char buf[100];
  EXPECT_EQ(telnet_readline(client.handle, buf, sizeof buf, 50, 5, 0), 2);
  EXPECT_EQ(telnet_readline(client.handle, buf, sizeof buf, 50, 5, 0), 3);
}

TEST_F(TelnetRead, TimeOutIsSilentBelowLevelTwoAndTheSessionGoesOn) {
  modburn::set_time_scale(0.1);
  telnet_setDebugLevel(1);
  LoopbackSession client({Step::pause(700), Step::send("late\n")});
  char buf[100];
  EXPECT_EQ(telnet_readline(client.handle, buf, sizeof buf, 0, 2, 0), TELNET_TIMEOUT);
  EXPECT_EQ(capture_count("TIMEOUT"), 0) << capture_text();
  EXPECT_EQ(capture_count("error"), 0) << capture_text();
  EXPECT_EQ(telnet_readline(client.handle, buf, sizeof buf, 0, 50, 0), 5);
  EXPECT_STREQ(buf, "late\n");
}

TEST_F(TelnetRead, TimeOutIsTracedAtLevelTwo) {
  modburn::set_time_scale(0.1);
  telnet_setDebugLevel(2);
  LoopbackSession client({Step::pause(700)});
  char buf[100];
  EXPECT_EQ(telnet_readline(client.handle, buf, sizeof buf, 0, 2, 0), TELNET_TIMEOUT);
  const std::string h = std::to_string(client.handle);
  EXPECT_EQ(capture_count("rdline:" + h + ": recvtimeout TIMEOUT after 200000 usecs\n"), 1) << capture_text();
  EXPECT_EQ(capture_count("telnet_readline:" + h + ": rdline TIMEOUT after 2 seconds\n"), 1);
}

TEST_F(TelnetRead, LostConnectionIsLoggedAtEveryLevel) {
  telnet_setDebugLevel(-1);
  LoopbackSession client({Step::close()});
  testsupport::capture_clear();
  char buf[100];
  EXPECT_EQ(telnet_readline(client.handle, buf, sizeof buf, 0, 5, 0), TELNET_CONN_LOST);
  const std::string h = std::to_string(client.handle);
  const std::vector<std::string> expected = {
      "recvtimeout:" + h + ": recv: rc=0 (SHUTDOWN)\n",
      "rdline:" + h + ": Server end shut down\n",
      "telnet_readline:" + h + ": rdline error=-3 (Connection lost)\n",
  };
  EXPECT_EQ(capture_entries(), expected);
}

TEST_F(TelnetRead, LineTextIsLoggedEscapedAtLevelOne) {
  telnet_setDebugLevel(1);
  LoopbackSession client({Step::send("ok\r\n")});
  char buf[100];
  ASSERT_EQ(telnet_readline(client.handle, buf, sizeof buf, 0, 5, 0), 4);
  EXPECT_EQ(capture_count("telnet_readline:" + std::to_string(client.handle) + ": REC: TEXT 4 bytes: \"ok\\r\\n\"\n"),
            1)
      << capture_text();
}

TEST_F(TelnetRead, NulIsTracedAtLevelTwo) {
  telnet_setDebugLevel(2);
  LoopbackSession client({Step::send(std::string("ab\0", 3))});
  char buf[100];
  EXPECT_EQ(telnet_readline(client.handle, buf, sizeof buf, 0, 5, 0), 2);
  EXPECT_EQ(capture_count("rdline:" + std::to_string(client.handle) + ": got NUL byte\n"), 1);
}

struct BadArgCase {
  const char* name;
  TelnetHandle handle;
  bool nullBuffer;
  int size;
  int result;
};

TEST_F(TelnetRead, BadHandlesAndBuffers) {
  char buf[10];
  const BadArgCase cases[] = {
      {"negative handle", -1, false, 10, TELNET_BAD_HANDLE},
      {"not a descriptor", 4000, false, 10, TELNET_BAD_HANDLE},
      {"null buffer", 0, true, 10, TELNET_BAD_BUFFER},
      {"size 0", 0, false, 0, TELNET_BAD_BUFFER},
      {"size 1", 0, false, 1, TELNET_BAD_BUFFER},
  };
  for (const auto& c : cases) {
    char* b = c.nullBuffer ? nullptr : buf;
    EXPECT_EQ(telnet_readline(c.handle, b, c.size, 0, 1, 0), c.result) << c.name;
    EXPECT_EQ(telnet_read(c.handle, b, c.size, 1, 0), c.result) << c.name;
    EXPECT_EQ(telnet_readlines(c.handle, b, c.size, 100, 1), c.result) << c.name;
  }
  EXPECT_EQ(capture_count("rdline:-1: recvtimeout RTO_BADSOCKET\n"), 2);
  EXPECT_EQ(capture_count("telnet_read:-1: failed RTO_BADHANDLE\n"), 1);
  EXPECT_EQ(capture_count("telnet_readlines:0: rdline1 error=-8 (Bad buffer)\n"), 3);
}

TEST_F(TelnetRead, BlockReadStopsAtACommandAndLogsItsText) {
  telnet_setDebugLevel(1);
  LoopbackSession client({Step::send("hello" + bytes({255, 241}) + "world")});
  char buf[100];
  EXPECT_EQ(telnet_read(client.handle, buf, sizeof buf, 5, 0), 5);
  EXPECT_STREQ(buf, "hello");
  EXPECT_EQ(telnet_read(client.handle, buf, sizeof buf, 5, 0), 5);
  EXPECT_STREQ(buf, "world");
  EXPECT_EQ(capture_count("telnet_read:" + std::to_string(client.handle) + ": REC: TEXT 5 bytes: \"hello\"\n"), 1);
}

TEST_F(TelnetRead, BlockReadFillsAtMostSizeMinusOne) {
  LoopbackSession client({Step::send("abcdefgh")});
  char buf[5];
  EXPECT_EQ(telnet_read(client.handle, buf, sizeof buf, 5, 0), 4);
  EXPECT_STREQ(buf, "abcd");
}

TEST_F(TelnetRead, BlockReadTimeOutAndShutdown) {
  modburn::set_time_scale(0.1);
  telnet_setDebugLevel(2);
  LoopbackSession client({Step::pause(500), Step::hangUp()});
  char buf[100];
  EXPECT_EQ(telnet_read(client.handle, buf, sizeof buf, 1, 0), TELNET_TIMEOUT);
  EXPECT_EQ(telnet_read(client.handle, buf, sizeof buf, 50, 0), TELNET_CONN_LOST);
  const std::string h = std::to_string(client.handle);
  EXPECT_EQ(capture_count("telnet_read:" + h + ": recvtimeout TIMEOUT after 1 seconds\n"), 1);
  EXPECT_EQ(capture_count("telnet_read:" + h + ": Server end shut down\n"), 1);
}

TEST_F(TelnetRead, ReadLinesGathersUntilTheNextLineIsLate) {
  telnet_setDebugLevel(2);
  LoopbackSession client({Step::send("one\n"), Step::pause(100), Step::send("two\n"), Step::pause(800), Step::send("three\n")});
  char buf[100];
  const auto start = Clock::now();
  EXPECT_EQ(telnet_readlines(client.handle, buf, sizeof buf, 300, 5), 8);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_STREQ(buf, "one\ntwo\n");
  EXPECT_LT(ms, 700);
  EXPECT_EQ(capture_count("telnet_readlines:" + std::to_string(client.handle) +
                          ": returning 8/8 chars=\"one\\ntwo\\n\"\n"),
            1)
      << capture_text();
}

TEST_F(TelnetRead, ReadLinesStopsWhenTheBufferIsFull) {
  LoopbackSession client({Step::send("abc\ndef\nghi\n")});
  char buf[7];
  EXPECT_EQ(telnet_readlines(client.handle, buf, sizeof buf, 300, 5), 6);
  EXPECT_STREQ(buf, "abc\nde");
}

TEST_F(TelnetRead, ReadLinesReportsFailures) {
  modburn::set_time_scale(0.1);
  {
    LoopbackSession client({Step::pause(600)});
    char buf[100];
    EXPECT_EQ(telnet_readlines(client.handle, buf, sizeof buf, 300, 1), TELNET_TIMEOUT);
    EXPECT_EQ(capture_count("telnet_readlines:" + std::to_string(client.handle) +
                            ": rdline1 error=-4 (Operation timed out)\n"),
              1);
  }
  {
    LoopbackSession client({Step::send("one\n"), Step::hangUp()});
    char buf[100];
    EXPECT_EQ(telnet_readlines(client.handle, buf, sizeof buf, 300, 50), TELNET_CONN_LOST);
    EXPECT_EQ(capture_count("telnet_readlines:" + std::to_string(client.handle) +
                            ": rdline2 error=-3 (Connection lost)\n"),
              1);
  }
}

using TelnetWrite = TelnetLogTest;

TEST_F(TelnetWrite, SendsTheTextUnchangedAndLogsItUnderItsName) {
  telnet_setDebugLevel(1);
  const std::string withIac = "a" + bytes({255}) + "b\r\n";
  LoopbackSession client({Step::await(withIac + "menu\n")});
  const std::string h = std::to_string(client.handle);
  EXPECT_EQ(telnet_write(client.handle, withIac.c_str()), TELNET_SUCCESS);
  EXPECT_EQ(telnet_send(client.handle, "menu\n"), TELNET_SUCCESS);
  telnet_close(client.handle);
  EXPECT_EQ(client.server.finish(), withIac + "menu\n");
  client.handle = -1;
  EXPECT_EQ(capture_count("telnet_write:" + h + ": SND: TEXT 5 bytes: \"a\\xffb\\r\\n\"\n"), 1) << capture_text();
  EXPECT_EQ(capture_count("telnet_send:" + h + ": SND: TEXT 5 bytes: \"menu\\n\"\n"), 1);
}

TEST_F(TelnetWrite, EmptyTextIsRefusedAndNothingIsSent) {
  LoopbackSession client({});
  EXPECT_EQ(telnet_write(client.handle, ""), TELNET_BAD_STRING);
  EXPECT_EQ(telnet_write(client.handle, nullptr), TELNET_BAD_STRING);
  EXPECT_EQ(telnet_send(client.handle, ""), TELNET_BAD_STRING);
  telnet_close(client.handle);
  EXPECT_EQ(client.server.finish(), "");
  client.handle = -1;
}

TEST_F(TelnetWrite, ClosedHandleIsABadHandle) {
  LoopbackSession client({});
  const TelnetHandle h = client.handle;
  telnet_close(h);
  client.handle = -1;
  EXPECT_EQ(telnet_write(h, "x"), TELNET_BAD_HANDLE);
  EXPECT_EQ(telnet_send(h, "x"), TELNET_BAD_HANDLE);
  EXPECT_EQ(capture_count("telnet_write:" + std::to_string(h) + ": errno=9 ("), 1) << capture_text();
}

TEST_F(TelnetWrite, PeerGoneIsALostConnectionNotASignal) {
  LoopbackSession client({Step::close()});
  char buf[10];
  EXPECT_EQ(telnet_readline(client.handle, buf, sizeof buf, 0, 5, 0), TELNET_CONN_LOST);
  int r = TELNET_SUCCESS;
  for (int i = 0; i < 20 && r == TELNET_SUCCESS; ++i) {
    r = telnet_write(client.handle, "still there?\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(r, TELNET_CONN_LOST);
}

TEST_F(TelnetWrite, TypedPasswordNeverReachesTheLogInClear) {
  telnet_setDebugLevel(2);
  // A backslash and a control character are escaped in log lines; the
  // password must be masked all the same, on the way out and echoed back.
  const std::string password = "pa\\s\x01w";
  modburn::SecretScope scope{password};
  LoopbackSession client({Step::await(password + "\r"), Step::send(password + "\r\n"), Step::send(password)});
  ASSERT_GE(client.handle, 0);
  EXPECT_EQ(telnet_write(client.handle, (password + "\r").c_str()), TELNET_SUCCESS);
  char buf[100];
  EXPECT_EQ(telnet_readline(client.handle, buf, sizeof buf, 0, 5, 0), 8);
  EXPECT_EQ(telnet_read(client.handle, buf, sizeof buf, 5, 0), 6);
  const std::string log = capture_text();
  EXPECT_EQ(capture_count("SND: TEXT 7 bytes: \"******\\r\"\n"), 1) << log;
  EXPECT_EQ(capture_count("REC: TEXT 8 bytes: \"******\\r\\n\"\n"), 1) << log;
  EXPECT_EQ(capture_count("REC: TEXT 6 bytes: \"******\"\n"), 1) << log;
  EXPECT_EQ(log.find("pa\\"), std::string::npos) << log;
  EXPECT_EQ(log.find("\\x1w"), std::string::npos) << log;
}

struct PrintableCase {
  std::string src;
  int size;
  std::string out;
};

TEST(TelnetPrintable, EscapesControlAndHighBytes) {
  const PrintableCase cases[] = {
      {"a\tb\x1b\xc8", 100, "a\\tb\\x1b\\xc8"},
      {"\a\b\t\n\v\f\r", 100, "\\a\\b\\t\\n\\v\\f\\r"},
      {"\x01\x7f\xff", 100, "\\x1\\x7f\\xff"},
      {"back\\slash ~!", 100, "back\\slash ~!"},
      {"abcdefghij", 10, "abcde"},
      {"abcd\x1b" "efg", 10, "abcd\\x1b"},
      {"abc\x1b" "efg", 10, "abc\\x1b"},
      {"abc", 5, ""},
      {"", 10, ""},
      // Valid UTF-8 stays readable; C1 controls, raw or in UTF-8, do not.
      {"caf\xc3\xa9 \xe2\x82\xac", 100, "caf\xc3\xa9 \xe2\x82\xac"},
      {"\x9b" "1m\xc2\x9b" "2J", 100, "\\x9b1m\\xc2\\x9b2J"},
      {"abcd\xe2\x82\xac", 10, "abcd\xe2\x82\xac"},
      {"abcde\xe2\x82\xac", 10, "abcde"},
      {"abc\xc2\x9b", 10, "abc\\xc2"},
      {"abc\xc2\x9b", 13, "abc\\xc2\\x9b"},
  };
  for (const auto& c : cases) {
    char out[128];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(std::string(printable(c.src.c_str(), out, c.size)), c.out) << c.src;
    EXPECT_EQ(out[c.size], '#') << "wrote past size for " << c.src;
  }
  char out[10] = "unchanged";
  EXPECT_STREQ(printable(nullptr, out, sizeof out), "(NULL)");
  EXPECT_STREQ(out, "unchanged");
}
