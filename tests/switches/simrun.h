// Runs a module entry against a simulated switch console and collects what
// came of it: the result, the error text, the log and the switch's transcript.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "com/timescale.h"
#include "core/iostatus.h"
#include "fixture.h"
#include "simulator.h"
#include "switches/switches.h"

namespace switchtest {

// The passwords of every run; neither may ever show in a log or an error text.
inline constexpr const char* kSwitchPassword = "Sw1tch-Pw";
inline constexpr const char* kUrlPassword = "Ftp-9ass";

// The request of a run; the defaults make a well-formed update.
struct Request {
  std::string user = "admin";
  std::string password = kSwitchPassword;
  std::string url = std::string("ftp://fwuser:") + kUrlPassword + "@10.0.0.9/fw/image.bin";
  bool reboot = false;
  int debugLevel = 1;
  // Not null: a versions request, whose versions land here.
  std::vector<std::string>* versions = nullptr;
};

struct Outcome {
  int rc = 0;
  std::string err;                   // the error text handed back
  std::string log;                   // every log entry of the run
  switchsim::SessionResult session;  // what the switch saw
  std::vector<std::string> typed;    // the lines the library typed, line ends left out
};

// Options that shorten the time-outs once the library has typed a line that
// starts with trigger, so that a long silence of the switch ends quickly.
inline switchsim::SimOptions shortenAfter(const std::string& trigger, double scale = 0.01) {
  switchsim::SimOptions opts;
  opts.transcript = [trigger, scale](const std::string& line) {
    if (line.rfind("< " + trigger, 0) == 0) modburn::set_time_scale(scale);
  };
  return opts;
}

// A test of one module: runs its entry against the family's scenarios at a
// time scale of 0.2 (10 s waits take 2 s).
class ModuleSim : public LogCapture {
 protected:
  ModuleSim(ModuleEntry entry, std::string module, std::string display, std::string family)
      : entry_(entry), module_(std::move(module)), display_(std::move(display)), family_(std::move(family)) {}

  void SetUp() override {
    LogCapture::SetUp();
    address_ = testAddress(202);
    modburn::set_time_scale(0.2);
  }

  // Plays scenario (a file of the family's folder, "success.scn") or, when
  // it holds a line end, scenario text whose includes resolve in that folder.
  Outcome run(const std::string& scenario, const Request& r = {}, switchsim::SimOptions opts = {}) {
    Outcome out;
    switchsim::Scenario sc;
    std::string error;
    const bool parsed =
        scenario.find('\n') == std::string::npos
            ? switchsim::load_scenario(switchsim::scenario_path(family_ + "/" + scenario), sc, error)
            : switchsim::parse_scenario(scenario, switchsim::scenario_path(family_ + "/inline.scn"), sc, error);
    EXPECT_TRUE(parsed) << error;
    if (!parsed) return out;
    opts.accept_timeout_ms = 20000;
    switchsim::SimulatedSwitch sw;
    EXPECT_TRUE(sw.start(address_, 23, sc, opts, &error)) << error;
    SwitchRequest req{address_.c_str(), r.user.c_str(), r.password.c_str(), r.url.c_str(), r.reboot,
                      r.debugLevel, 0};
    req.versions = r.versions;
    char err[1000];
    err[0] = '\0';
    out.rc = entry_(&req, err, sizeof err);
    out.err = err;
    out.session = sw.wait();
    out.typed = out.session.lines();
    out.log = logText();
    return out;
  }

  // "<module>:<stage>:<address>: ", the head of a stage's own log lines.
  std::string prefix(const char* stage) const { return module_ + ":" + stage + ":" + address_ + ": "; }

  // The long form of the error text up to the quoted switch text.
  std::string errorHead(int code) const {
    return "Error: " + display_ + " switch=" + address_ + ": " + err2String(code) + " \nSWITCH TEXT=\n\"";
  }

  // A failed run at debug level 2: its code, the error text quoting the
  // switch, the entry's error line for stage, one orderly close.
  void expectFailure(const Outcome& o, int expected, const char* stage) const {
    EXPECT_EQ(o.rc, expected) << o.err << "\n" << o.log;
    EXPECT_EQ(o.err.rfind(errorHead(expected), 0), 0u) << o.err;
    EXPECT_EQ(o.err.back(), '"') << o.err;
    EXPECT_NE(o.log.find(module_ + ":" + address_ + ": " + stage + " error: " + o.err), std::string::npos) << o.log;
    EXPECT_EQ(testsupport::capture_count("closing handle="), 1) << "closed once";
    EXPECT_TRUE(o.session.client_closed) << "the library closes in order";
  }

  // Neither password in the log or the error text, though the switch got them.
  static void expectNoPasswords(const Outcome& o) {
    for (const char* secret : {kSwitchPassword, kUrlPassword}) {
      EXPECT_EQ(o.log.find(secret), std::string::npos) << secret << " in the log:\n" << o.log;
      EXPECT_EQ(o.err.find(secret), std::string::npos) << secret << " in the error text:\n" << o.err;
    }
    EXPECT_TRUE(o.session.typed(kSwitchPassword)) << "the switch did get the password";
  }

  std::string address_;

 private:
  ModuleEntry entry_;
  std::string module_, display_, family_;
};

}  // namespace switchtest
