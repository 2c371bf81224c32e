// Tables of scenarios played all at once: each row against its own
// simulated switch on a loopback address of its own, so that a table costs
// the time of its slowest row instead of the sum of all.
#pragma once

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "simrun.h"

namespace switchtest {

// Typed lines, line ends left out.
using Lines = std::vector<std::string>;

// The lines of several lists one after the other.
inline Lines join(std::initializer_list<Lines> parts) {
  Lines out;
  for (const Lines& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// One row: the scenario (a file of the family's folder, or scenario text)
// and the request played against it.
struct TableRow {
  std::string scenario;
  Request req;
  switchsim::SimOptions opts = {};
};
// What came of a row, and the address its switch listened on.
struct TableRun {
  std::string address;
  Outcome o;
};

class TableSim : public ModuleSim {
 protected:
  TableSim(ModuleEntry entry, std::string module, std::string display, std::string family)
      : ModuleSim(entry, module, display, family),
        entry_(entry),
        module_(std::move(module)),
        display_(std::move(display)),
        family_(std::move(family)) {}

  // Prompts end after 50 ms of quiet instead of 250 ms: every row of a
  // table waits for a dozen of them.
  void SetUp() override {
    ModuleSim::SetUp();
    modburn::set_gap_scale(0.2);
  }

  // Plays every scenario at once, each against its own simulated switch on
  // an address of its own, so that a table costs the time of its slowest
  // row. The log is that of all runs; every module line names its address.
  std::vector<TableRun> playAll(const std::vector<TableRow>& plays) {
    testsupport::capture_clear();
    std::vector<TableRun> out(plays.size());
    for (std::size_t i = 0; i < plays.size(); ++i) out[i].address = switchtest::testAddress(210 + static_cast<int>(i));
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < plays.size(); ++i) {
      threads.emplace_back([&, i] { playOne(plays[i], out[i]); });
    }
    for (auto& t : threads) t.join();
    const std::string log = logText();
    for (auto& p : out) p.o.log = log;
    return out;
  }

  // Plays rows that each name a scenario and a URL, all at debugLevel, as
  // playAll does; seconds, when given, receives what the whole table took.
  template <typename Rows>
  std::vector<TableRun> playUrls(const Rows& rows, int debugLevel, double* seconds = nullptr) {
    std::vector<TableRow> plays;
    for (const auto& row : rows) {
      Request r;
      r.url = row.url;
      r.debugLevel = debugLevel;
      plays.push_back({row.scenario, r});
    }
    const auto start = std::chrono::steady_clock::now();
    std::vector<TableRun> out = playAll(plays);
    if (seconds != nullptr) *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return out;
  }

  // A successful run of playAll: code 0, every step of the scenario played,
  // and exactly typed.
  static void expectSucceeded(const TableRun& p, const std::vector<std::string>& typed) {
    const Outcome& o = p.o;
    EXPECT_EQ(o.rc, 0) << o.err;
    EXPECT_TRUE(o.session.completed) << o.session.stopped_at << ": " << o.session.outcome;
    EXPECT_EQ(o.typed, typed);
  }

  // A failed run of playAll: its code, the error text quoting the switch, the
  // entry's error line for stage, one orderly close.
  void expectFailed(const TableRun& p, int expected, const char* stage) const {
    const Outcome& o = p.o;
    EXPECT_EQ(o.rc, expected) << o.err;
    const std::string head = "Error: " + display_ + " switch=" + p.address + ": " + err2String(expected) +
                             " \nSWITCH TEXT=\n\"";
    EXPECT_EQ(o.err.rfind(head, 0), 0u) << o.err;
    EXPECT_EQ(o.err.back(), '"') << o.err;
    EXPECT_NE(o.log.find(module_ + ":" + p.address + ": " + stage + " error: " + o.err), std::string::npos);
    EXPECT_EQ(testsupport::capture_count(module_ + ":disconnect:" + p.address + ": closing handle="), 1);
    EXPECT_TRUE(o.session.client_closed) << "the library closes in order";
  }

  // A failure scenario: its code, the stage that fails, every line typed,
  // and a text the error text must quote (empty: none).
  struct Failure {
    std::string scenario;
    int expected;
    const char* stage;
    std::vector<std::string> typed;
    std::string quoted;
  };

  // Plays every failure at once at debug level 2 against url and checks
  // each as expectFailed does, with its typed lines and its quote.
  std::vector<TableRun> playFailures(const std::vector<Failure>& rows, const std::string& url) {
    std::vector<TableRow> plays;
    for (const Failure& f : rows) plays.push_back({f.scenario, {.url = url, .debugLevel = 2}});
    std::vector<TableRun> runs = playAll(plays);
    for (std::size_t i = 0; i < runs.size(); ++i) {
      SCOPED_TRACE(rows[i].scenario);
      expectFailed(runs[i], rows[i].expected, rows[i].stage);
      EXPECT_EQ(runs[i].o.typed, rows[i].typed);
      if (!rows[i].quoted.empty()) {
        EXPECT_NE(runs[i].o.err.find(rows[i].quoted), std::string::npos) << runs[i].o.err;
      }
    }
    return runs;
  }

  // A row of an outcome table: a scenario played at debug level 2 against
  // url, the code it must end with (0: success), the lines typed last, words
  // the error text quotes and a line of a stage's log (each null: not checked).
  struct PlayRow {
    const char* what;
    std::string scenario;
    std::string url;
    int expected;
    std::vector<std::string> last;
    const char* said = nullptr;
    const char* stage = nullptr;
    const char* line = nullptr;
  };

  // Plays the rows all at once and checks each: its code, every step of the
  // scenario played, the lines typed last, the quoted words and the stage's
  // line; a failure also has the error text's head (its end may be cut off by
  // a long dialogue), the entry's error line and one orderly close.
  void playRows(const std::vector<PlayRow>& rows) {
    std::vector<TableRow> plays;
    for (const PlayRow& row : rows) {
      Request r;
      r.url = row.url;
      r.debugLevel = 2;
      plays.push_back({row.scenario, r});
    }
    const std::vector<TableRun> played = playAll(plays);
    for (std::size_t i = 0; i < played.size(); ++i) {
      const PlayRow& row = rows[i];
      const TableRun& p = played[i];
      const Outcome& o = p.o;
      SCOPED_TRACE(row.what);
      EXPECT_EQ(o.rc, row.expected) << o.err;
      EXPECT_TRUE(o.session.completed) << o.session.stopped_at << ": " << o.session.outcome;
      if (row.expected != 0) {
        const std::string head = "Error: " + display_ + " switch=" + p.address + ": " + err2String(row.expected);
        EXPECT_EQ(o.err.rfind(head, 0), 0u) << o.err;
        EXPECT_NE(o.log.find(" error: " + o.err), std::string::npos) << "the entry's error line";
        EXPECT_EQ(testsupport::capture_count(module_ + ":disconnect:" + p.address + ": closing handle="), 1);
        EXPECT_TRUE(o.session.client_closed) << "the library closes in order";
      }
      const std::size_t n = std::min(row.last.size(), o.typed.size());
      EXPECT_EQ(std::vector<std::string>(o.typed.end() - static_cast<long>(n), o.typed.end()), row.last);
      if (row.said != nullptr) {
        EXPECT_NE(o.err.find(row.said), std::string::npos) << o.err;
      }
      if (row.line != nullptr) {
        const std::string line = module_ + ":" + row.stage + ":" + p.address + ": " + row.line;
        EXPECT_NE(o.log.find(line), std::string::npos) << line;
      }
    }
  }

 private:
  void playOne(const TableRow& play, TableRun& out) const {
    switchsim::Scenario sc;
    std::string error;
    const bool parsed =
        play.scenario.find('\n') == std::string::npos
            ? switchsim::load_scenario(switchsim::scenario_path(family_ + "/" + play.scenario), sc, error)
            : switchsim::parse_scenario(play.scenario, switchsim::scenario_path(family_ + "/inline.scn"), sc, error);
    EXPECT_TRUE(parsed) << error;
    if (!parsed) return;
    switchsim::SimOptions opts = play.opts;
    opts.accept_timeout_ms = 20000;
    switchsim::SimulatedSwitch sw;
    EXPECT_TRUE(sw.start(out.address, 23, sc, opts, &error)) << error;
    const Request& r = play.req;
    SwitchRequest req{out.address.c_str(), r.user.c_str(), r.password.c_str(), r.url.c_str(), r.reboot,
                      r.debugLevel, 0};
    req.versions = r.versions;
    char err[1000] = "";
    out.o.rc = entry_(&req, err, sizeof err);
    out.o.err = err;
    out.o.session = sw.wait();
    out.o.typed = out.o.session.lines();
  }

  ModuleEntry entry_;
  std::string module_, display_, family_;
};

}  // namespace switchtest
