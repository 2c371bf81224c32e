// The scenario format: steps, options, escapes, patterns, includes, and the
// file:line of every parse error; also that every bundled scenario parses.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "scenario.h"
#include "simulator.h"

using switchsim::Glob;
using switchsim::Scenario;
using switchsim::Step;
using switchsim::StepKind;

namespace {

Scenario parse_ok(const std::string& text) {
  Scenario sc;
  std::string error;
  EXPECT_TRUE(switchsim::parse_scenario(text, "t.scn", sc, error)) << error;
  return sc;
}

std::string parse_error(const std::string& text, const std::string& name = "t.scn") {
  Scenario sc;
  std::string error;
  EXPECT_FALSE(switchsim::parse_scenario(text, name, sc, error)) << text;
  return error;
}

// A scratch folder for include files, removed afterwards.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/switchsim-test-XXXXXX";
    path_ = mkdtemp(name) ? name : "/tmp";
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string write(const std::string& name, const std::string& text) const {
    std::string path = path_ + "/" + name;
    std::ofstream(path) << text;
    return path;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

TEST(ScenarioParse, OneLineOfEachStep) {
  struct Row {
    const char* line;
    StepKind kind;
    std::string text;  // Send/Iac/Reply bytes
    int ms;
  };
  const Row rows[] = {
      {"send login: ", StepKind::Send, "login:", 0},  // trailing blanks go...
      {"send \"login: \"", StepKind::Send, "login: ", 0},  // ...unless quoted
      {"send a\\r\\nb\\x03\\e\\t\\\\\\\"", StepKind::Send, std::string("a\r\nb\x03\x1b\t\\\""), 0},
      {"   send indented", StepKind::Send, "indented", 0},
      {"send say \"hi\" now", StepKind::Send, "say \"hi\" now", 0},
      {"iac DO TTYPE", StepKind::Iac, "\xff\xfd\x18", 0},
      {"iac SB 24 1 IAC SE", StepKind::Iac, "\xff\xfa\x18\x01\xff\xf0", 0},
      {"iac NOP", StepKind::Iac, "\xff\xf1", 0},
      {"pause 250", StepKind::Pause, "", 250},
      {"silence", StepKind::Silence, "", 0},
      {"silence 40", StepKind::Silence, "", 40},
      {"reply version => v1\\r\\n> ", StepKind::Reply, "v1\r\n>", 0},
      {"reply exit =>", StepKind::Reply, "", 0},
      {"close", StepKind::Close, "", 0},
  };
  for (const auto& row : rows) {
    Scenario sc = parse_ok(std::string("# comment\n\n") + row.line + "\n");
    ASSERT_EQ(sc.steps.size(), 1u) << row.line;
    const Step& step = sc.steps[0];
    EXPECT_EQ(step.kind, row.kind) << row.line;
    EXPECT_EQ(step.text, row.text) << row.line;
    EXPECT_EQ(step.ms, row.ms) << row.line;
    EXPECT_EQ(step.where, "t.scn:3") << row.line;
  }
}

TEST(ScenarioParse, ExpectAndNoEcho) {
  Scenario sc = parse_ok("expect\nexpect firmwaredownload -s *\nexpect \"\"\nnoecho on\nnoecho off\n");
  ASSERT_EQ(sc.steps.size(), 5u);
  EXPECT_TRUE(sc.steps[0].pattern.matches_all());
  EXPECT_FALSE(sc.steps[1].pattern.matches_all());
  EXPECT_EQ(sc.steps[1].pattern.shown(), "firmwaredownload -s *");
  EXPECT_TRUE(sc.steps[2].pattern.matches(""));
  EXPECT_FALSE(sc.steps[2].pattern.matches("x"));
  EXPECT_TRUE(sc.steps[3].on);
  EXPECT_FALSE(sc.steps[4].on);
}

TEST(ScenarioParse, Options) {
  Scenario sc = parse_ok(
      "option idle-ms 7\noption expect-timeout-ms 100\noption linger-ms 5\n"
      "option silence-max-ms 900\necho-password\noption opening WILL ECHO, DO 44\n");
  EXPECT_EQ(sc.options.idle_ms, 7);
  EXPECT_EQ(sc.options.expect_timeout_ms, 100);
  EXPECT_EQ(sc.options.linger_ms, 5);
  EXPECT_EQ(sc.options.silence_max_ms, 900);
  EXPECT_TRUE(sc.options.echo_password);
  EXPECT_EQ(sc.options.opening, "\xff\xfb\x01\xff\xfd\x2c");
  EXPECT_TRUE(sc.steps.empty());

  Scenario plain = parse_ok("option opening none\n");
  EXPECT_EQ(plain.options.opening, "");
  EXPECT_FALSE(plain.options.echo_password);
  Scenario defaults = parse_ok("send x\n");
  EXPECT_EQ(defaults.options.opening, "\xff\xfd\x18\xff\xfb\x01\xff\xfb\x03");
}

TEST(ScenarioParse, ErrorsNameTheFileAndLine) {
  struct Row {
    const char* text;
    const char* error;
  };
  const Row rows[] = {
      {"send a\nbogus x\n", "t.scn:2: unknown step 'bogus'"},
      {"\n\nsend\n", "t.scn:3: send needs text"},
      {"send a\\q\n", "t.scn:1: unknown escape \\q"},
      {"send a\\x4\n", "t.scn:1: \\x needs two hex digits"},
      {"send a\\\n", "t.scn:1: a backslash ends the text"},
      {"pause soon\n", "t.scn:1: 'soon' is not a number of milliseconds"},
      {"pause -5\n", "t.scn:1: '-5' is not a number of milliseconds"},
      {"pause\n", "t.scn:1: '' is not a number of milliseconds"},
      {"silence 1x\n", "t.scn:1: '1x' is not a number of milliseconds"},
      {"noecho maybe\n", "t.scn:1: noecho takes 'on' or 'off'"},
      {"close now\n", "t.scn:1: close takes nothing"},
      {"reply version\n", "t.scn:1: reply needs 'PATTERN => TEXT'"},
      {"reply  => x\n", "t.scn:1: reply needs 'PATTERN => TEXT'"},
      {"iac\n", "t.scn:1: iac needs a command"},
      {"iac DO FOO\n", "t.scn:1: 'FOO' is not a TELNET command, option or byte"},
      {"iac DO 256\n", "t.scn:1: '256' is not a TELNET command, option or byte"},
      {"option colour blue\n", "t.scn:1: unknown option 'colour'"},
      {"option echo-password yes\n", "t.scn:1: option echo-password takes no value"},
      {"option idle-ms\n", "t.scn:1: '' is not a number of milliseconds"},
      {"option opening DO TTYPE,\n", "t.scn:1: option opening has an empty command"},
      {"option opening\n", "t.scn:1: option opening needs commands or 'none'"},
      {"send a\nclose\nsend b\n", "t.scn:3: 'send' never runs: the session has ended at t.scn:2"},
      {"silence\nexpect\n", "t.scn:2: 'expect' never runs: the session has ended at t.scn:1"},
      {"include\n", "t.scn:1: include needs a file name"},
      {"console-login\n", "t.scn:1: console-login takes 'begin' or 'end'"},
      {"console-login begin\nconsole-login begin\n", "t.scn:2: console-login begun twice"},
      {"console-login end\n", "t.scn:1: console-login ends without a begin"},
      {"send a\nconsole-login begin\nexpect\n", "t.scn:2: console-login begins but never ends ('console-login end')"},
  };
  for (const auto& row : rows) EXPECT_EQ(parse_error(row.text), row.error) << row.text;
  // Options may still follow the end of the session.
  EXPECT_EQ(parse_ok("close\noption idle-ms 3\n").options.idle_ms, 3);
  // A bounded silence does not end the session.
  EXPECT_EQ(parse_ok("silence 5\nsend x\n").steps.size(), 2u);
  // The steps of the console's own login are marked, and only they.
  const Scenario marked = parse_ok("send a\nconsole-login begin\nsend login:\nexpect\nconsole-login end\nsend b\n");
  ASSERT_EQ(marked.steps.size(), 4u);
  EXPECT_FALSE(marked.steps[0].console_login);
  EXPECT_TRUE(marked.steps[1].console_login);
  EXPECT_TRUE(marked.steps[2].console_login);
  EXPECT_FALSE(marked.steps[3].console_login);
}

TEST(ScenarioParse, IncludesReadRelativeToTheIncludingFile) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() + "/fam");
  dir.write("fam/login.inc", "# shared login\nsend \"login: \"\nexpect\n");
  std::string main = dir.write("fam/main.scn", "include login.inc\nsend done\n");
  Scenario sc;
  std::string error;
  ASSERT_TRUE(switchsim::load_scenario(main, sc, error)) << error;
  ASSERT_EQ(sc.steps.size(), 3u);
  EXPECT_EQ(sc.steps[0].text, "login: ");
  EXPECT_EQ(sc.steps[0].where, dir.path() + "/fam/login.inc:2");
  EXPECT_EQ(sc.steps[2].where, dir.path() + "/fam/main.scn:2");
  EXPECT_EQ(sc.name, main);
}

TEST(ScenarioParse, IncludeErrorsNameTheIncludedFile) {
  TempDir dir;
  std::string bad = dir.write("bad.inc", "send ok\n\nfrobnicate\n");
  std::string main = dir.write("main.scn", "send a\ninclude bad.inc\n");
  std::string loop = dir.write("loop.scn", "include loop.scn\n");
  std::string missing = dir.write("missing.scn", "\ninclude nowhere.inc\n");
  struct Row {
    std::string file;
    std::string error_start;
  };
  const Row rows[] = {
      {main, bad + ":3: unknown step 'frobnicate'"},
      {loop, loop + ":1: includes nested too deeply"},
      {missing, missing + ":2: cannot read '" + dir.path() + "/nowhere.inc'"},
      {dir.path() + "/absent.scn", dir.path() + "/absent.scn: cannot read"},
  };
  for (const auto& row : rows) {
    Scenario sc;
    std::string error;
    EXPECT_FALSE(switchsim::load_scenario(row.file, sc, error));
    EXPECT_EQ(error.substr(0, row.error_start.size()), row.error_start) << error;
  }
}

TEST(ScenarioGlob, MatchesWholeLines) {
  struct Row {
    const char* pattern;
    const char* text;
    bool match;
  };
  const Row rows[] = {
      {"reboot", "reboot", true},
      {"reboot", "reboot now", false},
      {"reboot", "xreboot", false},
      {"firmwaredownload -s *", "firmwaredownload -s \"h\",\"u\",\"/p\",\"pw\"", true},
      {"firmwaredownload -s *", "firmwaredownload -s ", true},
      {"firmwaredownload -s *", "firmwaredownload", false},
      {"*", "", true},
      {"*", "anything", true},
      {"a*b*c", "abc", true},
      {"a*b*c", "axxbyyc", true},
      {"a*b*c", "axxc", false},
      {"a*b*c", "acb", false},
      {"ab*ba", "aba", false},  // the two ends may not overlap
      {"ab*ba", "abba", true},
      {"*.tar", "ftp://h/img.tar", true},
      {"a\\*b", "a*b", true},
      {"a\\*b", "axb", false},
      {"\\x03", "\x03", true},
      {"\" \"", " ", true},
      {"\" \"", "", false},
  };
  for (const auto& row : rows) {
    Scenario sc = parse_ok(std::string("expect ") + row.pattern + "\n");
    ASSERT_EQ(sc.steps.size(), 1u);
    EXPECT_EQ(sc.steps[0].pattern.matches(row.text), row.match) << row.pattern << " / " << row.text;
  }
}

TEST(ScenarioEscape, RoundTrips) {
  struct Row {
    std::string bytes;
    std::string escaped;
  };
  const Row rows[] = {
      {"plain text", "plain text"},
      {"a\r\n", "a\\r\\n"},
      {"\x03", "\\x03"},
      {"tab\there", "tab\\there"},
      {"back\\slash", "back\\\\slash"},
      {std::string("nul\0x", 5), "nul\\x00x"},
      {"\xff\x7f\x1b", "\\xff\\x7f\\x1b"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(switchsim::escape(row.bytes), row.escaped);
    std::string back, error;
    ASSERT_TRUE(switchsim::unescape(row.escaped, back, error)) << error;
    EXPECT_EQ(back, row.bytes);
  }
}

TEST(ScenarioTelnetNames, NamesAndNumbers) {
  EXPECT_EQ(switchsim::telnet_byte("WILL"), 251);
  EXPECT_EQ(switchsim::telnet_byte("TTYPE"), 24);
  EXPECT_EQ(switchsim::telnet_byte("0"), 0);
  EXPECT_EQ(switchsim::telnet_byte("255"), 255);
  EXPECT_EQ(switchsim::telnet_byte("will"), -1);
  EXPECT_EQ(switchsim::telnet_byte(""), -1);
  EXPECT_EQ(switchsim::telnet_name(252, false), "WONT");
  EXPECT_EQ(switchsim::telnet_name(3, true), "SGA");
  EXPECT_EQ(switchsim::telnet_name(44, true), "44");
}

TEST(BundledScenarios, EveryScenarioParses) {
  namespace fs = std::filesystem;
  int count = 0;
  for (const auto& entry : fs::recursive_directory_iterator(switchsim::scenario_path(""))) {
    if (entry.path().extension() != ".scn") continue;
    Scenario sc;
    std::string error;
    EXPECT_TRUE(switchsim::load_scenario(entry.path().string(), sc, error)) << error;
    EXPECT_FALSE(sc.steps.empty()) << entry.path();
    ++count;
  }
  EXPECT_GE(count, 2);
}
