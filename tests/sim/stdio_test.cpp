// The simulator on a pair of descriptors, as an SSH server's forced command
// runs it: no TELNET, every byte as it is, a terminal put into raw mode; and
// the console map that picks a scenario by user or port.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scenario.h"
#include "simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

// The client's side: reads what the console writes, types, hangs up.
struct Client {
  int read_fd = -1;
  int write_fd = -1;  // the same as read_fd for a terminal
  std::string got;

  // Reads until got holds needle, the end of file or ms pass.
  void read_until(const std::string& needle, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (got.find(needle) == std::string::npos && Clock::now() < deadline) {
      pollfd p{read_fd, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char buf[256];
      const ssize_t n = read(read_fd, buf, sizeof buf);
      if (n <= 0) return;
      got.append(buf, static_cast<std::size_t>(n));
    }
  }
  void type(const std::string& text) { ASSERT_EQ(write(write_fd, text.data(), text.size()), ssize_t(text.size())); }
};

struct StdioRow {
  const char* name;
  bool terminal;      // a pseudo-terminal, else two pipes
  const char* scenario;
  const char* typed;  // typed once the first output has come
  bool hang_up;       // the client then goes away
  std::string output;  // all the client reads
  std::vector<std::string> received;
  bool completed;
};

TEST(SimStdio, PlaysWithoutTelnet) {
  const StdioRow rows[] = {
      {"a byte 255 goes out once and is typed as data", false,
       "send \"a\\xff> \"\nexpect x\\xff\nsend \"ok\\r\\n\"\nclose\n", "x\xff\r", false, "a\xff> x\xff\r\nok\r\n",
       {"x\xff\r"}, true},
      {"a terminal is raw: no echo of its own, CR typed as CR, LF printed as LF", true,
       "option linger-ms 100\nsend \"p> \"\nexpect go\nsend \"one\\ntwo\\r\\n\"\n", "go\r", false,
       "p> go\r\none\ntwo\r\n", {"go\r"}, true},
      {"a pipe's input ending leaves its output open", false, "send \"p> \"\nexpect go\npause 100\nsend \"bye\\r\\n\"\n",
       "go\r", true, "p> go\r\nbye\r\n", {"go\r"}, true},
      {"the client closing during an expect", false, "send \"p> \"\nexpect never\n", "", true, "p> ", {}, false},
      {"a terminal hanging up reads as the client closing", true, "send \"p> \"\nexpect never\n", "", true, "p> ",
       {}, false},
      {"the console's own login is left out: the SSH server has logged the user in", false,
       "console-login begin\nsend \"login: \"\nexpect\nconsole-login end\nsend \"p> \"\nexpect go\nsend ok\nclose\n",
       "go\r", false, "p> go\r\nok", {"go\r"}, true},
  };
  for (const StdioRow& row : rows) {
    SCOPED_TRACE(row.name);
    switchsim::Scenario sc;
    std::string error;
    ASSERT_TRUE(switchsim::parse_scenario(row.scenario, "t.scn", sc, error)) << error;
    std::mutex mutex;
    std::vector<std::string> transcript;
    switchsim::SimOptions opts;
    opts.transcript = [&](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex);
      transcript.push_back(line);
    };

    Client client;
    int sim_in = -1, sim_out = -1;
    if (row.terminal) {
      int master = -1, slave = -1;
      ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
      client.read_fd = client.write_fd = master;
      sim_in = sim_out = slave;
    } else {
      int to_sim[2], from_sim[2];
      ASSERT_EQ(pipe(to_sim), 0);
      ASSERT_EQ(pipe(from_sim), 0);
      client.write_fd = to_sim[1];
      client.read_fd = from_sim[0];
      sim_in = to_sim[0];
      sim_out = from_sim[1];
    }
    switchsim::SessionResult result;
    std::thread sim([&] { result = switchsim::play_stdio(sim_in, sim_out, sc, opts, -1, "test-peer"); });
    // Typing waits for the first output: a terminal is raw only from then on.
    client.read_until("> ", 3000);
    client.type(row.typed);
    if (row.hang_up) {
      close(client.write_fd);
      if (row.terminal) client.read_fd = -1;
    } else {
      client.read_until(row.output, 3000);
    }
    sim.join();
    if (client.read_fd >= 0) client.read_until(row.output + "(all)", 100);

    EXPECT_EQ(result.completed, row.completed) << result.outcome;
    EXPECT_EQ(client.got, row.output);
    EXPECT_EQ(result.received, row.received);
    EXPECT_TRUE(result.negotiation.empty());
    if (row.hang_up) {
      EXPECT_TRUE(result.client_closed) << result.outcome;
    }
    ASSERT_FALSE(transcript.empty());
    EXPECT_EQ(transcript.front(), "= session 1 peer test-peer scenario t.scn");

    if (row.terminal) {
      if (client.read_fd >= 0) close(client.read_fd);
      close(sim_in);
    } else {
      if (!row.hang_up) close(client.write_fd);
      close(client.read_fd);
      close(sim_in);
      // sim_out was closed by the scenario's close, or is still open.
      if (!row.completed || std::string(row.scenario).find("close") == std::string::npos) close(sim_out);
    }
  }
}

// --- Choosing a console ---------------------------------------------------------

TEST(SimConsoleMap, PicksByUserThenPortThenAny) {
  const std::vector<switchsim::ConsoleRule> rules = {
      {"user:alice", "a.scn", ""}, {"port:2222", "b.scn", ""}, {"user:bob", "c.scn", ""}, {"*", "d.scn", ""}};
  const struct {
    const char* user;
    int port;
    const char* scenario;
  } rows[] = {
      {"alice", 2222, "a.scn"},  // the first rule that fits wins
      {"bob", 2222, "b.scn"},    {"bob", 22, "c.scn"}, {"carol", 22, "d.scn"}, {"", 22, "d.scn"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(switchsim::pick_console(rules, row.user, row.port), row.scenario) << row.user << " " << row.port;
  }
  const std::vector<switchsim::ConsoleRule> noDefault(rules.begin(), rules.end() - 1);
  EXPECT_EQ(switchsim::pick_console(noDefault, "carol", 22), "");
}

TEST(SimConsoleMap, ReadsRulesAndRefusesBadOnes) {
  const std::string dir = ::testing::TempDir();  // ends with a slash
  const std::string bad = ": expected 'user:NAME|port:N|* SCENARIO [faults:FILE]'";
  const struct {
    const char* text;
    std::string error;  // after the file name; empty: read
  } rows[] = {
      {"# consoles\nuser:alice a.scn\nport:2222 /abs/b.scn faults:b.fault\n* d.scn  # default\n", ""},
      {"user:alice a.scn\nport:0 b.scn\n", ":2" + bad},
      {"port:65536 b.scn\n", ":1" + bad},
      {"user: a.scn\n", ":1" + bad},
      {"host:x a.scn\n", ":1" + bad},
      {"* a.scn extra\n", ":1" + bad},
      {"* a.scn faults:\n", ":1" + bad},
      {"* a.scn faults:f x\n", ":1" + bad},
      {"# nothing\n", ": no rules"},
  };
  for (const auto& row : rows) {
    const std::string path = dir + "consoles.map";
    std::ofstream(path, std::ios::trunc) << row.text;
    std::vector<switchsim::ConsoleRule> rules;
    std::string error;
    const bool ok = switchsim::read_console_map(path, rules, error);
    if (row.error.empty()) {
      ASSERT_TRUE(ok) << error;
      ASSERT_EQ(rules.size(), 3u);
      EXPECT_EQ(rules[0].scenario, dir + "a.scn") << "relative to the map";
      EXPECT_EQ(rules[1].scenario, "/abs/b.scn");
      EXPECT_EQ(rules[0].fault_file, "");
      EXPECT_EQ(rules[1].fault_file, dir + "b.fault");
      EXPECT_EQ(rules[2].key, "*");
    } else {
      EXPECT_FALSE(ok) << row.text;
      EXPECT_EQ(error, path + row.error) << row.text;
    }
  }
  std::vector<switchsim::ConsoleRule> rules;
  std::string error;
  EXPECT_FALSE(switchsim::read_console_map(dir + "no-such.map", rules, error));
  EXPECT_EQ(error, dir + "no-such.map: cannot read");
}

TEST(SimConsoleMap, FaultFiles) {
  const std::string path = ::testing::TempDir() + "console.fault";
  const struct {
    const char* text;  // null: no file
    bool ok;
    switchsim::Fault fault;
    int after;
    int most;
  } rows[] = {
      {nullptr, true, switchsim::Fault::None, 0, 60000},   {"", true, switchsim::Fault::None, 0, 60000},
      {"close 3\n", true, switchsim::Fault::Close, 3, 60000}, {"stall 2 1500", true, switchsim::Fault::Stall, 2, 1500},
      {"iac-flood 1", true, switchsim::Fault::IacFlood, 1, 60000},
      {"melt 2", false, switchsim::Fault::None, 0, 60000}, {"close", false, switchsim::Fault::None, 0, 60000},
      {"close 0", false, switchsim::Fault::None, 0, 60000}, {"stall 2 0", false, switchsim::Fault::None, 0, 60000},
      {"close 2 10 more", false, switchsim::Fault::None, 0, 60000},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text != nullptr ? row.text : "(no file)");
    std::remove(path.c_str());
    if (row.text != nullptr) std::ofstream(path, std::ios::trunc) << row.text;
    switchsim::SimOptions opts;
    std::string error;
    EXPECT_EQ(switchsim::read_fault_file(path, opts, error), row.ok) << error;
    EXPECT_EQ(error.empty(), row.ok) << error;
    EXPECT_EQ(opts.fault, row.fault);
    EXPECT_EQ(opts.fault_after_lines, row.after);
    EXPECT_EQ(opts.stall_max_ms, row.most);
  }
}

TEST(SimConsoleMap, SshConnectionText) {
  const struct {
    const char* text;
    bool ok;
    const char* peer;
    int port;
  } rows[] = {
      {"127.0.0.1 40312 127.0.0.9 2222", true, "127.0.0.1:40312", 2222},
      {"::1 5 ::1 22", true, "[::1]:5", 22},
      {"127.0.0.1 40312 127.0.0.9", false, "", 0},
      {"127.0.0.1 x 127.0.0.9 22", false, "", 0},
      {"127.0.0.1 1 127.0.0.9 70000", false, "", 0},
      {"", false, "", 0},
  };
  for (const auto& row : rows) {
    std::string peer;
    int port = 0;
    EXPECT_EQ(switchsim::parse_ssh_connection(row.text, peer, port), row.ok) << row.text;
    EXPECT_EQ(peer, row.peer) << row.text;
    EXPECT_EQ(port, row.port) << row.text;
  }
}

}  // namespace
