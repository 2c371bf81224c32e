// Every family's normal update with the session cut after each line the
// library types: closed in order, reset, or stalled. Whatever step the cut
// falls on, the library must report a failure (never success while the
// switch still needed something), close its socket, and keep every piece of
// a password out of the log and the error text. A stall lasts up to 2 s, then the switch closes. A cut after the last keystroke a dialogue needs may be a
// success; each row names that keystroke.
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "com/timescale.h"
#include "core/iostatus.h"
#include "simrun.h"
#include "families.h"
#include "secret_pieces.h"
#include "switches/modules.h"

namespace {

using switchtest::FamilyRow;
using switchtest::kFamilies;
using switchtest::kSwitchPassword;
using switchtest::kUrlPassword;

struct Cut {
  int rc = 0;
  std::string err;
  switchsim::SessionResult session;
};

Cut cut(const FamilyRow& f, const std::string& address, const switchsim::Scenario& sc, switchsim::SimOptions opts) {
  // A stall outlasts the short waits (they end as time-outs); after 2 s the
  // switch closes, so a wait of many minutes ends as a lost session instead.
  opts.stall_max_ms = 2000;
  const switchtest::Played p = switchtest::play(f, address, sc, opts);
  return {p.rc, p.err, p.session};
}

class CutSession : public switchtest::LogCapture, public ::testing::WithParamInterface<FamilyRow> {};

// Cuts after line 1, 2, ... until the dialogue ends before the cut's line.
// Returns the number of cut points tried.
int cutEveryLine(const FamilyRow& f, const std::string& address, const switchsim::Scenario& sc,
                 const std::vector<std::string>& typed, switchsim::Fault fault, const char* name) {
  int cuts = 0;
  for (int k = 1;; ++k) {
    SCOPED_TRACE(std::string(f.family) + ": " + name + " after line " + std::to_string(k));
    switchsim::SimOptions opts;
    opts.fault = fault;
    opts.fault_after_lines = k;
    opts.echo_password = true;
    const Cut r = cut(f, address, sc, opts);
    if (!r.session.fault_fired) return cuts;
    ++cuts;
    // The last time the normal dialogue typed that line: a cut after it (or later) may succeed.
    int lastNeeded = -1;
    for (int i = 0; f.lastNeeded != nullptr && i < static_cast<int>(typed.size()); ++i) {
      if (typed[static_cast<std::size_t>(i)] == f.lastNeeded) lastNeeded = i + 1;
    }
    const bool mayEnd = lastNeeded > 0 && k >= lastNeeded;
    if (r.rc == 0) {
      EXPECT_TRUE(mayEnd) << "success although the switch was cut before the dialogue's end";
      continue;
    }
    EXPECT_LT(r.rc, 0);
    EXPECT_EQ(r.err.rfind(std::string("Error: ") + f.display + " switch=" + address + ": ", 0), 0u) << r.err;
    for (const char* secret : {kSwitchPassword, kUrlPassword}) {
      EXPECT_EQ(switchtest::firstPiece(r.err, secret), "") << "a piece of " << secret << " in the error text";
    }
  }
}

TEST_P(CutSession, EveryCutIsAFailureUntilTheLastNeededKeystroke) {
  const FamilyRow& f = GetParam();
  telnet_setDebugLevel(2);
  switchsim::Scenario sc;
  std::string error;
  ASSERT_TRUE(switchsim::load_scenario(switchsim::scenario_path(std::string(f.family) + "/" + f.scenario), sc, error))
      << error;
  modburn::set_time_scale(0.01);
  modburn::set_gap_scale(0.1);  // prompts end after 25 ms of quiet
  const int before = switchtest::openDescriptors();
  const std::string first = switchtest::testAddress(204);
  const Cut normal = cut(f, first, sc, {});
  ASSERT_EQ(normal.rc, 0) << "the uncut update must succeed\n" << normal.err;
  const std::vector<std::string> typed = normal.session.lines();

  // The three kinds of cut run side by side, each on an address of its own.
  const struct {
    switchsim::Fault fault;
    const char* name;
    int net;
  } faults[] = {{switchsim::Fault::Close, "close", 204}, {switchsim::Fault::Reset, "reset", 205},
                {switchsim::Fault::Stall, "stall", 206}};
  int cuts[3] = {};
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&, i] {
      cuts[i] = cutEveryLine(f, switchtest::testAddress(faults[i].net), sc, typed, faults[i].fault, faults[i].name);
    });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(cuts[i], static_cast<int>(typed.size())) << faults[i].name << ": a cut after every typed line";
    std::printf("%s: %s after each of %d lines\n", f.family, faults[i].name, cuts[i]);
  }
  const std::string log = testsupport::capture_text();
  for (const char* secret : {kSwitchPassword, kUrlPassword}) {
    EXPECT_EQ(switchtest::firstPiece(log, secret), "") << "a piece of " << secret << " in the log";
  }
  EXPECT_EQ(switchtest::openDescriptors(), before) << "a session was left open";
}

INSTANTIATE_TEST_SUITE_P(Families, CutSession, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<FamilyRow>& info) { return info.param.family; });

}  // namespace
