// The simulator through plain sockets: its TELNET opening, the stripping and
// recording of the client's commands, echo, the splitting of typed lines, the
// steps, and the transcript.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "scenario.h"
#include "sim_client.h"
#include "simulator.h"

using switchsim::Scenario;
using switchsim::SessionResult;
using switchsim::SimOptions;

namespace {

const char kAddress[] = "127.0.0.200";
const std::string kOpening = "\xff\xfd\x18\xff\xfb\x01\xff\xfb\x03";

// Starts sim on kAddress, a free port, playing scenario text.
void start_text(switchsim::SimulatedSwitch& sim, const std::string& text, SimOptions opts = {}) {
  Scenario sc;
  std::string error;
  ASSERT_TRUE(switchsim::parse_scenario(text, "t.scn", sc, error)) << error;
  ASSERT_TRUE(sim.start(kAddress, 0, std::move(sc), std::move(opts), &error)) << error;
}

// A simulated switch playing scenario text, and a raw client connected to it.
class SimTest : public ::testing::Test {
 protected:
  void start(const std::string& text, SimOptions opts = {}) {
    opts.accept_timeout_ms = 5000;
    opts.transcript = [this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      transcript_.push_back(line);
    };
    start_text(sim_, text, std::move(opts));
    ASSERT_TRUE(client_.connect(kAddress, sim_.port()));
  }

  // Closes the client and returns the session's result.
  SessionResult finish() {
    client_.close();
    return sim_.wait();
  }

  std::vector<std::string> transcript() {
    std::lock_guard<std::mutex> lock(mutex_);
    return transcript_;
  }

  // Declared last, destroyed first: its thread stops before what it writes to goes.
  std::mutex mutex_;
  std::vector<std::string> transcript_;
  RawClient client_;
  switchsim::SimulatedSwitch sim_;
};

}  // namespace

TEST_F(SimTest, OpensWithItsOptionRequestsThenThePrompt) {
  start("send \"sim login: \"\nexpect\n");
  EXPECT_EQ(client_.read_until("login: "), kOpening + "sim login: ");
}

TEST(SimOpening, TheScenarioChoosesTheOpening) {
  struct Row {
    const char* option;
    std::string wire;
  };
  const Row rows[] = {
      {"", kOpening + "hi"},
      {"option opening none\n", "hi"},
      {"option opening WILL ECHO, DO NAWS\n", "\xff\xfb\x01\xff\xfd\x1fhi"},
  };
  for (const auto& row : rows) {
    switchsim::SimulatedSwitch sim;
    start_text(sim, std::string(row.option) + "send hi\n");
    RawClient client;
    ASSERT_TRUE(client.connect(kAddress, sim.port()));
    EXPECT_EQ(client.read_until("hi"), row.wire) << row.option;
  }
}

TEST_F(SimTest, StripsAndRecordsTheClientsTelnetCommands) {
  start("option opening none\nexpect admin\nexpect\nsend ok\n");
  client_.send("\xff\xfc\x18\xff\xfe\x03" "ad\xff\xf1min\r\n");
  client_.send(std::string("\xff\xfa\x18\x00VT\xff\xf0" "x\xff\xffy\r\n", 14));
  client_.read_until("ok");
  SessionResult r = finish();
  EXPECT_TRUE(r.completed) << r.outcome;
  EXPECT_EQ(r.received, (std::vector<std::string>{"admin\r\n", "x\xffy\r\n"}));
  EXPECT_EQ(r.negotiation, (std::vector<std::string>{"WONT TTYPE", "DONT SGA", "NOP", "SB TTYPE 0 86 84"}));
}

TEST(SimEcho, EchoesWhatIsTypedButNotAHiddenPassword) {
  struct Row {
    const char* name;
    const char* scenario_option;
    bool sim_echo_password;
    std::string typed;
    std::string echo;
  };
  const Row rows[] = {
      {"plain line", "", false, "admin\r\n", "admin\r\n"},
      {"CR alone", "", false, "y\r", "y\r\n"},
      {"LF alone", "", false, "y\n", "y\r\n"},
      {"data 255", "", false, "a\xff\xff" "b\r\n", "a\xff\xff" "b\r\n"},
      {"control-C", "", false, "\x03", "^C\r\n"},
      {"hidden password", "noecho on\n", false, "secret\r\n", "\r\n"},
      {"hidden control-C", "noecho on\n", false, "\x03", ""},
      {"hidden, option echo-password", "noecho on\noption echo-password\n", false, "secret\r\n",
       "secret\r\n"},
      {"hidden, simulator echo-password", "noecho on\n", true, "secret\r\n", "secret\r\n"},
      {"shown again", "noecho on\nnoecho off\n", false, "secret\r\n", "secret\r\n"},
  };
  for (const auto& row : rows) {
    SimOptions opts;
    opts.echo_password = row.sim_echo_password;
    switchsim::SimulatedSwitch sim;
    std::string text = std::string("option opening none\n") + row.scenario_option;
    start_text(sim, text + "send \"P: \"\nexpect\nsend |\n", opts);
    RawClient client;
    ASSERT_TRUE(client.connect(kAddress, sim.port()));
    client.read_until("P: ");
    client.clear();
    client.send(row.typed);
    EXPECT_EQ(client.read_until("|"), row.echo + "|") << row.name;
  }
}

TEST(SimLines, SplitsTypedTextIntoLines) {
  struct Row {
    const char* name;
    std::string typed;
    std::vector<std::string> lines;
  };
  const Row rows[] = {
      {"CR LF", "a\r\nb\r\n", {"a\r\n", "b\r\n"}},
      {"CR alone", "y\r", {"y\r"}},
      {"LF alone", "a\nb\n", {"a\n", "b\n"}},
      {"CR NUL", std::string("a\r\0b\r", 5), {std::string("a\r\0", 3), "b\r"}},
      {"CR after CR LF", "reload\r\n\r", {"reload\r\n", "\r"}},
      {"empty lines", "\r\n\r\n", {"\r\n", "\r\n"}},
      {"control-C alone", "\x03", {"\x03"}},
      {"control-C ends a line", "ab\x03" "cd\r", {"ab", "\x03", "cd\r"}},
      {"TAB and ESC", "user\tpw\r\n\x1b", {"user", "\t", "pw\r\n", "\x1b"}},
      {"no line end: ends when quiet", " ", {" "}},
      {"NUL alone is dropped", std::string("a\0b\n", 4), {"ab\n"}},
  };
  for (const auto& row : rows) {
    switchsim::SimulatedSwitch sim;
    start_text(sim, "option idle-ms 20\nsilence\n");
    RawClient client;
    ASSERT_TRUE(client.connect(kAddress, sim.port()));
    client.send(row.typed);
    client.read_for(80);
    client.close();
    SessionResult r = sim.wait();
    EXPECT_TRUE(r.completed) << row.name << ": " << r.outcome;
    EXPECT_EQ(r.received, row.lines) << row.name;
  }
}

TEST_F(SimTest, ALineThatDoesNotMatchStopsTheSessionAtItsStep) {
  start("send \"> \"\nexpect reboot\nsend never\n");
  client_.read_until("> ");
  client_.send("reload\r\n");
  EXPECT_TRUE(client_.wait_eof());
  EXPECT_EQ(client_.got().find("never"), std::string::npos);
  SessionResult r = finish();
  EXPECT_FALSE(r.completed);
  EXPECT_EQ(r.stopped_at, "t.scn:2");
  EXPECT_EQ(r.outcome, "unexpected line \"reload\" while expecting \"reboot\"");
  EXPECT_TRUE(r.typed("reload"));
}

TEST_F(SimTest, ExpectGivesUpWhenNothingIsTyped) {
  start("option expect-timeout-ms 100\nsend a\nexpect\n");
  EXPECT_TRUE(client_.wait_eof());
  SessionResult r = finish();
  EXPECT_FALSE(r.completed);
  EXPECT_EQ(r.stopped_at, "t.scn:3");
  EXPECT_EQ(r.outcome, "nothing typed within 100 ms while expecting \"(any line)\"");
}

TEST_F(SimTest, AClientThatLeavesDuringAnExpectStopsTheSession) {
  start("send a\nexpect go\n");
  client_.read_until("a");
  SessionResult r = finish();
  EXPECT_FALSE(r.completed);
  EXPECT_TRUE(r.client_closed);
  EXPECT_FALSE(r.client_reset);
  EXPECT_EQ(r.outcome, "client closed while expecting \"go\"");
}

TEST_F(SimTest, RepliesAnswerLinesWhileWaitingAndAfterTheLastStep) {
  start(
      "option opening none\n"
      "reply version => v1\\r\\n\n"
      "reply version => v2\\r\\n\n"  // the newest rule wins
      "reply exit =>\n"
      "send \"> \"\n"
      "expect go\n"
      "send done\\r\\n\n");
  client_.read_until("> ");
  client_.send("version\r");
  EXPECT_EQ(client_.read_until("v2\r\n"), "> version\r\nv2\r\n");
  client_.send("exit\r");
  client_.send("go\r");
  client_.read_until("done\r\n");
  client_.clear();
  client_.send("version\r");  // after the last step
  EXPECT_EQ(client_.read_until("v2\r\n"), "version\r\nv2\r\n");
  client_.send("unknown\r");  // no rule: recorded, not answered
  SessionResult r = finish();
  EXPECT_TRUE(r.completed) << r.outcome;
  EXPECT_EQ(r.lines(), (std::vector<std::string>{"version", "exit", "go", "version", "unknown"}));
}

TEST_F(SimTest, SilenceSaysNothingAndEndsWhenTheClientGivesUp) {
  start("option opening none\nsilence\n");
  client_.send("hello\r\n");
  EXPECT_EQ(client_.read_for(150), "");
  SessionResult r = finish();
  EXPECT_TRUE(r.completed) << r.outcome;
  EXPECT_EQ(r.received, (std::vector<std::string>{"hello\r\n"}));
}

TEST_F(SimTest, SilenceWithALimitGoesOn) {
  start("option opening none\nsilence 100\nsend after\n");
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(client_.read_until("after"), "after");
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(90));
  EXPECT_TRUE(finish().completed);
}

TEST_F(SimTest, CloseStillRecordsTheClientsLastKeystroke) {
  start("option opening none\nsend bye\nclose\n");
  EXPECT_TRUE(client_.wait_eof());
  EXPECT_EQ(client_.got(), "bye");
  client_.send("y\r");  // typed after the switch closed its side
  SessionResult r = finish();
  EXPECT_TRUE(r.completed) << r.outcome;
  EXPECT_EQ(r.received, (std::vector<std::string>{"y\r"}));
  EXPECT_TRUE(r.client_closed);
}

TEST_F(SimTest, SeesAClientReset) {
  start("send a\nexpect\n");
  client_.read_until("a");
  client_.reset();
  SessionResult r = sim_.wait();
  EXPECT_TRUE(r.client_reset);
  EXPECT_FALSE(r.client_closed);
}

TEST_F(SimTest, PausesBetweenLines) {
  // Timed from before the session starts: a loaded machine may deliver "a"
  // and "b" in one read, but can never make the pause shorter.
  auto t0 = std::chrono::steady_clock::now();
  start("option opening none\nsend a\npause 150\nsend b\n");
  EXPECT_EQ(client_.read_until("b"), "ab");
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(140));
  finish();
}

TEST_F(SimTest, DoublesDataByte255AndSendsRawCommands) {
  start("option opening none\nsend a\\xffb\niac DO 44\nsend .\n");
  EXPECT_EQ(client_.read_until("."), "a\xff\xff" "b\xff\xfd\x2c.");
  finish();
}

TEST_F(SimTest, TranscriptRecordsWhatWasSaidAndTyped) {
  start("send \"login: \"\nexpect\nsend \"> \"\n");
  client_.read_until("login: ");
  client_.send("\xff\xfc\x18" "admin\r\n");
  client_.read_until("> ");
  SessionResult r = finish();
  ASSERT_TRUE(r.completed) << r.outcome;
  std::vector<std::string> lines = transcript();
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[0], "= session 1 peer " + r.peer + " scenario t.scn");
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()),
            (std::vector<std::string>{"> login: ", "= client WONT TTYPE", "< admin\\r\\n", "> > ",
                                      "= client closed", "= end completed"}));
}

TEST_F(SimTest, TranscriptTellsWhereASessionStopped) {
  start("option opening none\nexpect reboot\n");
  client_.send("reload\r\n");
  client_.wait_eof();
  finish();
  std::vector<std::string> lines = transcript();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "= end stopped at t.scn:2: unexpected line \"reload\" while expecting \"reboot\"");
}

TEST(SimServe, NoClientEndsTheWaitAfterTheAcceptTimeOut) {
  SimOptions opts;
  opts.accept_timeout_ms = 100;
  switchsim::SimulatedSwitch sim;
  start_text(sim, "send a\n", opts);
  auto t0 = std::chrono::steady_clock::now();
  SessionResult r = sim.wait();
  EXPECT_FALSE(r.accepted);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
}

TEST(SimServe, ServesSessionsOneAfterAnother) {
  SimOptions opts;
  opts.sessions = 2;
  switchsim::SimulatedSwitch sim;
  start_text(sim, "option opening none\nsend \"> \"\nexpect\n", opts);
  for (const char* typed : {"first\r", "second\r"}) {
    RawClient client;
    ASSERT_TRUE(client.connect(kAddress, sim.port()));
    client.read_until("> ");
    client.send(typed);
    client.read_until("\r\n");  // the echo: the line has arrived
  }
  std::vector<SessionResult> all = sim.wait_all();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].lines(), std::vector<std::string>{"first"});
  EXPECT_EQ(all[1].lines(), std::vector<std::string>{"second"});
}

TEST(SimServe, StopEndsASessionThatWaitsForEver) {
  switchsim::SimulatedSwitch sim;
  start_text(sim, "silence\n");
  RawClient client;
  ASSERT_TRUE(client.connect(kAddress, sim.port()));
  client.read_for(50);
  auto t0 = std::chrono::steady_clock::now();
  sim.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  SessionResult r = sim.wait();
  EXPECT_TRUE(r.accepted);
  EXPECT_FALSE(r.completed);
  EXPECT_EQ(r.outcome, "stopped");
}

TEST(SimServe, RefusesAnAddressItCannotBind) {
  Scenario sc;
  switchsim::SimulatedSwitch sim;
  std::string error;
  EXPECT_FALSE(sim.start("not-an-address", 0, sc, {}, &error));
  EXPECT_EQ(error, "'not-an-address' is not an IPv4 or IPv6 address");
  EXPECT_FALSE(sim.start("192.0.2.1", 23, sc, {}, &error));  // not a local address
  EXPECT_NE(error.find("cannot listen on 192.0.2.1:23: "), std::string::npos) << error;
  switchsim::SimulatedSwitch first;
  ASSERT_TRUE(first.start(kAddress, 0, sc, {}, &error)) << error;
  EXPECT_FALSE(sim.start(kAddress, first.port(), sc, {}, &error));  // taken
  EXPECT_EQ(error, "cannot listen on " + std::string(kAddress) + ":" + std::to_string(first.port()) +
                       ": Address already in use");
}

// A console that cannot accept (no descriptor left) ends at once and says why,
// instead of trying again for ever while the client waits readable. Played in
// a child process whose descriptors are used up; the alarm ends a spin.
TEST(SimServe, ConsoleWithoutDescriptorsEndsAndSaysWhy) {
  Scenario sc;
  std::string error;
  ASSERT_TRUE(switchsim::parse_scenario("send a\n", "t.scn", sc, error)) << error;
  switchsim::Listener listener;
  ASSERT_TRUE(listener.open(kAddress, 0, error)) << error;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(5);
    rlimit few{64, 64};
    setrlimit(RLIMIT_NOFILE, &few);
    while (dup(0) >= 0) {
    }
    std::string outcome;
    SimOptions opts;
    opts.accept_timeout_ms = 4000;
    switchsim::serve(listener, sc, opts, -1, [&](const SessionResult& r) { outcome = r.outcome; });
    _exit(outcome == "cannot accept a session: Too many open files" ? 0 : 1);
  }
  RawClient client;
  EXPECT_TRUE(client.connect(kAddress, listener.port()));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the console did not end (status " << status << ")";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
