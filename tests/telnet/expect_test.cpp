#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "support/scripted_server.h"
#include "telnet_fixture.h"

using testsupport::capture_count;
using testsupport::capture_entries;
using testsupport::capture_text;
using testsupport::ScriptedServer;
using testsupport::Step;
using Clock = std::chrono::steady_clock;

namespace {

struct ExpectCase {
  const char* name;
  std::vector<Step> script;
  std::vector<const char*> patterns;  // without the terminating null
  int timeoutSecs;                    // scaled by 0.1
  int result;
  std::string out;                    // what the caller's buffer holds afterwards
  std::string line;                   // the whole line that matched ("" without a match)
};

std::string repeatLines(int count, int width) {
  std::string all;
  for (int i = 0; i < count; ++i) {
    std::string line(static_cast<std::size_t>(width - 1), static_cast<char>('a' + i % 26));
    all += line + "\n";
  }
  return all;
}

const std::string kSixThousand = repeatLines(60, 100);
const std::string kLongLine(9000, 'L');

const ExpectCase kExpect[] = {
    {"PromptWordIsTheMatchedText", {Step::send("Welcome\r\nlogin: "), Step::pause(2000)}, {"login"}, 20, 0,
     "login", "login: "},
    {"LowestIndexWinsATie", {Step::send("login: ")}, {"ogi", "login"}, 20, 0, "ogi", "login: "},
    {"LaterPatternMatches", {Step::send("login: ")}, {"xyz", "log.n", "login"}, 20, 1, "login", "login: "},
    {"AnchorsWorkPerLine", {Step::send("switch> ")}, {"^witch", "^switch>"}, 20, 1, "switch>", "switch> "},
    {"EmptyLinesAreSkipped", {Step::send(std::string("\0\0login: ", 9))}, {"^login"}, 20, 0, "login", "login: "},
    {"ThreeUnmatchedLinesThenSilence",
     {Step::send("one\r\ntwo\r\nthree\r\n"), Step::pause(1500)},
     {"login"}, 2, TELNET_TIMEOUT, "one\r\ntwo\r\nthree\r\n", ""},
    {"SilenceAtOnceGivesAnEmptyText", {Step::pause(1500)}, {"login"}, 2, TELNET_TIMEOUT, "", ""},
    {"TailKeepsTheLast4999Characters",
     {Step::send(kSixThousand), Step::pause(2500)},
     {"login"}, 5, TELNET_TIMEOUT, kSixThousand.substr(6000 - 4999), ""},
    {"LongLineKeepsItsOwnLast4999", {Step::send(kLongLine), Step::pause(2500)}, {"login"}, 5, TELNET_TIMEOUT,
     kLongLine.substr(9000 - 4999), ""},
    {"APauseSplitsAWord",
     {Step::send("log"), Step::pause(500), Step::send("in\n"), Step::pause(1500)},
     {"login"}, 3, TELNET_TIMEOUT, "login\n", ""},
    {"BadPatternAfterAMatchIsNeverTried", {Step::send("login: ")}, {"login", "[unbalanced"}, 20, 0, "login", "login: "},
    {"BadPatternFirstFailsAtTheFirstLine", {Step::send("login: ")}, {"[unbalanced", "login"}, 20,
     TELNET_REGEX_ERR, "untouched", ""},
    {"ClosedConnectionLeavesTheBufferAlone", {Step::send("one\n"), Step::close()}, {"login"}, 20,
     TELNET_CONN_LOST, "untouched", ""},
    // A caller that reads more than the pattern took (a count after the words) gets the whole line.
    {"TheWholeLineComesWithTheMatch", {Step::send("Image download complete (5120000 bytes)\r\n")},
     {"download complete"}, 20, 0, "download complete", "Image download complete (5120000 bytes)\r\n"},
};

class TelnetExpect : public TelnetLogTest, public ::testing::WithParamInterface<ExpectCase> {};

}  // namespace

TEST_P(TelnetExpect, ReturnsIndexAndText) {
  const ExpectCase& c = GetParam();
  modburn::set_time_scale(0.1);
  LoopbackSession s(c.script);
  ASSERT_GE(s.handle, 0);
  std::vector<const char*> patterns = c.patterns;
  patterns.push_back(nullptr);
  std::vector<char> out(5000);
  std::strcpy(out.data(), "untouched");
  std::vector<char> line(5000);
  std::strcpy(line.data(), "untouched");
  EXPECT_EQ(telnet_expect(s.handle, patterns.data(), c.timeoutSecs, 0, out.data(), 5000, {line.data(), 5000}),
            c.result);
  EXPECT_EQ(std::string(out.data()), c.out);
  EXPECT_EQ(std::string(line.data()), c.line);
}

INSTANTIATE_TEST_SUITE_P(Dialogues, TelnetExpect, ::testing::ValuesIn(kExpect),
                         [](const auto& info) { return std::string(info.param.name); });

using TelnetExpectRules = TelnetLogTest;

TEST_F(TelnetExpectRules, NoPatternsIsRefusedWithoutReading) {
  LoopbackSession s({Step::send("login: \n")});
  const char* none[] = {nullptr};
  char out[10] = "x";
  EXPECT_EQ(telnet_expect(s.handle, nullptr, 5, 0, out, sizeof out), TELNET_BAD_STRING);
  EXPECT_EQ(telnet_expect(s.handle, none, 5, 0, out, sizeof out), TELNET_BAD_STRING);
  EXPECT_STREQ(out, "x");
  char line[100];
  EXPECT_EQ(telnet_readline(s.handle, line, sizeof line, 0, 5, 0), 8);
}

TEST_F(TelnetExpectRules, NothingBeyondTheMatchingLineIsRead) {
  LoopbackSession s({Step::send("login: \nnext\n")});
  const char* exp[] = {"login", nullptr};
  EXPECT_EQ(telnet_expect(s.handle, exp, 5, 0, nullptr, 0), 0);
  char line[100];
  EXPECT_EQ(telnet_readline(s.handle, line, sizeof line, 0, 5, 0), 5);
  EXPECT_STREQ(line, "next\n");
}

TEST_F(TelnetExpectRules, TimeOutIsPerLineNotPerCall) {
  modburn::set_time_scale(0.1);
  std::vector<Step> script;
  for (int i = 0; i < 6; ++i) {
    script.push_back(Step::send("busy\n"));
    script.push_back(Step::pause(150));
  }
  script.push_back(Step::send("done\n"));
  LoopbackSession s(script);
  const char* exp[] = {"done", nullptr};
  const auto start = Clock::now();
  EXPECT_EQ(telnet_expect(s.handle, exp, 3, 0, nullptr, 0), 0);  // 300 ms of silence allowed per line
  EXPECT_GT(Clock::now() - start, std::chrono::milliseconds(800));
}

TEST_F(TelnetExpectRules, LinesThatMatchNothingEndTheWaitAfterItsLimitInAll) {
  EXPECT_EQ(telnet_expect_limit(10), 120);
  EXPECT_EQ(telnet_expect_limit(150), 600);
  modburn::set_time_scale(0.01);  // 1 s of silence per line; 120 s (1.2 s) in all
  std::vector<Step> script;
  for (int i = 0; i < 400; ++i) {
    script.push_back(Step::send("progress " + std::to_string(i) + "\n"));
    script.push_back(Step::pause(20));
  }
  LoopbackSession s(script);
  const char* exp[] = {"done", nullptr};
  char out[5000];
  const auto start = Clock::now();
  EXPECT_EQ(telnet_expect(s.handle, exp, 30, 0, out, sizeof out), TELNET_TIMEOUT);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << "the switch prints for 8 s";
  EXPECT_NE(std::string(out).find("progress "), std::string::npos) << "the unmatched tail is handed back";
  EXPECT_EQ(capture_count(": no match within 120 seconds in all\n"), 1) << capture_text();
}

TEST_F(TelnetExpectRules, SmallOutputBufferGetsTheStartCut) {
  modburn::set_time_scale(0.1);
  LoopbackSession s({Step::send("abcdefghijkl\n"), Step::pause(1000)});
  const char* exp[] = {"login", nullptr};
  char out[6];
  EXPECT_EQ(telnet_expect(s.handle, exp, 2, 0, out, sizeof out), TELNET_TIMEOUT);
  EXPECT_STREQ(out, "abcde");
}

TEST_F(TelnetExpectRules, TracesEveryStepAtLevelTwo) {
  telnet_setDebugLevel(2);
  LoopbackSession s({Step::send("Welcome\nPassword: ")});
  testsupport::capture_clear();
  const char* exp[] = {"denied", "Password", nullptr};
  char out[100];
  ASSERT_EQ(telnet_expect(s.handle, exp, 5, 0, out, sizeof out), 1);
  const std::string h = std::to_string(s.handle);
  const std::vector<std::string> wanted = {
      "TELNET_EXPECT:" + h + ": ENTRY - patterns[0]=denied\n",
      "telnet_expect:" + h + ": matching against string=\"Welcome\\n\"\n",
      ":" + h + ":  > trying patterns[0]=\"denied\" - \n",
      ":" + h + ":    NO MATCH - continuing\n",
      ":" + h + ":  > trying patterns[1]=\"Password\" - \n",
      ":" + h + ":    NO MATCH - continuing\n",
      "telnet_expect:" + h + ": no match on response, iterating read\n",
      "telnet_expect:" + h + ": matching against string=\"Password: \"\n",
      ":" + h + ":  > trying patterns[0]=\"denied\" - \n",
      ":" + h + ":    NO MATCH - continuing\n",
      ":" + h + ":  > trying patterns[1]=\"Password\" - \n",
      ":" + h + ":    MATCH - index=1\n",
      ":" + h + ":      copying to caller: string=Password\n",
  };
  std::vector<std::string> traced;
  for (const auto& e : capture_entries()) {
    // Line reads are traced by the reader itself; keep expect's own lines.
    if (e.rfind("telnet_readline:", 0) != 0 && e.rfind("recvtimeout:", 0) != 0) traced.push_back(e);
  }
  EXPECT_EQ(traced, wanted);
}

TEST_F(TelnetExpectRules, QuietBelowLevelTwo) {
  telnet_setDebugLevel(1);
  LoopbackSession s({Step::send("Password: ")});
  testsupport::capture_clear();
  const char* exp[] = {"Password", nullptr};
  ASSERT_EQ(telnet_expect(s.handle, exp, 5, 0, nullptr, 0), 0);
  EXPECT_EQ(capture_count("xpect"), 0) << capture_text();
}
