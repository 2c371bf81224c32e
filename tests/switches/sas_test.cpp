// sasflash against simulated SAS consoles, and the frame's retry of the
// attempts that a switch asks to repeat.
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "com/timescale.h"
#include "core/iostatus.h"
#include "simrun.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace {

using switchtest::ModuleSim;
using switchtest::Outcome;
using switchtest::Request;
using switchtest::shortenAfter;

using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

constexpr const char* kUrl = "tftp://10.0.0.9/fw/image.bin";
constexpr const char* kFw = "fwdownload 10.0.0.9 fw/image.bin";
constexpr const char* kSm1 = "fwstoragedownload 10.0.0.9 fw/image.bin 1";
constexpr const char* kSm2 = "fwstoragedownload 10.0.0.9 fw/image.bin 2";
// Waits of 60 s take 3 s, the pause between attempts 0.5 s.
constexpr double kScale = 0.05;

Lines join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Lines times(int n, const Lines& part) {
  Lines all;
  for (int i = 0; i < n; ++i) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const Lines kLogin = {"admin", "Sw1tch-Pw"};
const Lines kSm1Info = {"target SM1", "stat", "target main"};
const Lines kSm2Info = {"target SM2", "stat", "target main"};
const Lines kAborted = {kFw, "y", "y"};  // command, confirmation, the key that ends the attempt

// The test's requests carry a modifier: the module entry is called through
// this one, which sets it.
int gModifier = 1;
int sasWithModifier(const SwitchRequest* req, char* errText, int errTextSize) {
  if (req == nullptr) return sasflash(req, errText, errTextSize);
  SwitchRequest r = *req;
  r.modifier = gModifier;
  return sasflash(&r, errText, errTextSize);
}

Request tftp(int debugLevel, const char* url = kUrl) {
  Request r;
  r.url = url;
  r.debugLevel = debugLevel;
  return r;
}

// A switch that echoes the password, at the highest telnet debug level;
// time-outs shortened once trigger is typed.
switchsim::SimOptions echoing(const char* trigger = nullptr) {
  switchsim::SimOptions opts = trigger != nullptr ? shortenAfter(trigger, 0.01) : switchsim::SimOptions{};
  opts.echo_password = true;
  telnet_setDebugLevel(2);
  return opts;
}

class Sas : public ModuleSim {
 protected:
  Sas() : ModuleSim(sasWithModifier, "sasflash", "SASSwitch", "sas") {}
  void SetUp() override {
    ModuleSim::SetUp();
    modburn::set_time_scale(kScale);
    gModifier = 1;
  }
  std::string retrying() const { return "sasflash:" + address_ + ": retrying update"; }
};

TEST_F(Sas, SuccessfulUpdatesTypeTheDialogue) {
  const auto at = [this](const std::string& text) { return prefix("update") + text; };
  const auto info = [this](const std::string& text) { return prefix("logConfigInfo") + text; };
  const struct {
    const char* scenario;
    int modifier;
    Request req;
    Lines typed;
    Lines logged;  // lines the log must hold
    int attempts;
  } rows[] = {
      {"success.scn", 1, tftp(1), join({kLogin, {"version", kFw, "y"}}),
       {prefix("connect") + "have User prompt\n", prefix("connect") + "have Password prompt\n",
        prefix("connect") + "have command prompt\n", info("Active FW Version: Firmware Version: 3.2.1-sim"),
        at("writing: \"fwdownload 10.0.0.9 fw/image.bin\\r\\n\"\n"),
        at("Confirm download message: Do you want to start firmware download? (y/n) \n"),
        at("have confirmation download prompt\n"), at("writing: \"y\\r\\n\"\n"), at("Firmware image installed.\n"),
        at("transfer download succeeded, got prompt\n"), at("Update succeeded tftp://10.0.0.9/fw/image.bin\n")},
       1},
      // No directory: a slash right before the file name; debug level 0 reads no version.
      {"success.scn", 1, tftp(0, "tftp://10.0.0.9/image.bin"), join({kLogin, {"fwdownload 10.0.0.9 /image.bin", "y"}}),
       {at("Update succeeded tftp://10.0.0.9/image.bin\n")}, 1},
      {"sm1.scn", 2, tftp(2), join({kLogin, kSm1Info, {kSm1, "y"}}),
       {info("Active DSS1 FW Version: Firmware Revision: 5.0.1-sim"),
        at("Confirm download message: Do you want to start SM firmware download? (y/n) \n"),
        at("TFTP Connection established.\n"), at("Downloading file - 1048576 bytes received"),
        at("Erasing flash ROM - Progress: 50%"), at("Flash ROM erased.\n"), at("return SUCCESS\n")},
       1},
      // Entering SM2 the switch shows the SM1 prompt first.
      {"sm2.scn", 3, tftp(1), join({kLogin, kSm2Info, {kSm2, "y"}}),
       {info("Active DSS2 FW Version: Firmware Revision: 5.0.2-sim"),
        at("Confirm download message: Are you sure you want to install this firmware? (y/n) \n")},
       1},
      {"retry-ok.scn", 1, tftp(1), join({kLogin, {"version"}, kAborted, {kFw, "y"}}),
       {at("SPECIAL (RETRY) ERROR: SSP command aborted\n"),
        at("SPECIAL (RETRY) ERROR! Please enter ANY key to return to CLI command prompt\n")},
       2},
      // The retry message and the key prompt on one line: the prompt is answered.
      {"retry-one-line.scn", 1, tftp(1), join({kLogin, {"version"}, kAborted, {kFw, "y"}}), {}, 2},
      // All data received, then the prompt: the switch is ready for another attempt.
      {"all-data-then-main.scn", 1, tftp(1), join({kLogin, {"version"}, kAborted, {kFw, "y"}}), {}, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.scenario) + " modifier " + std::to_string(row.modifier) + " debug level " +
                 std::to_string(row.req.debugLevel));
    testsupport::capture_clear();
    modburn::set_time_scale(kScale);
    gModifier = row.modifier;
    // When each download command was typed: attempts are 10 s apart.
    std::vector<Clock::time_point> commands;
    std::mutex m;
    switchsim::SimOptions opts = echoing();
    opts.transcript = [&](const std::string& line) {
      if (line.rfind("< fw", 0) == 0) {
        const std::lock_guard<std::mutex> lock(m);
        commands.push_back(Clock::now());
      }
    };
    const Outcome o = run(row.scenario, row.req, opts);
    EXPECT_EQ(o.rc, 0) << o.err << "\n" << o.log;
    EXPECT_EQ(o.err, "");
    EXPECT_TRUE(o.session.completed) << o.session.stopped_at << ": " << o.session.outcome;
    EXPECT_EQ(o.typed, row.typed);
    expectNoPasswords(o);
    for (const std::string& line : row.logged) {
      EXPECT_NE(o.log.find(line), std::string::npos) << "missing: " << line << "\n" << o.log;
    }
    EXPECT_EQ(testsupport::capture_count(retrying()), row.attempts - 1);
    ASSERT_EQ(commands.size(), static_cast<std::size_t>(row.attempts));
    if (row.attempts == 2) {
      EXPECT_GE(commands[1] - commands[0], std::chrono::milliseconds(500)) << "the pause of 10 s, scaled";
    }
    if (row.req.debugLevel < 2) {
      EXPECT_EQ(o.log.find("TFTP Connection established"), std::string::npos) << "progress at level 2 only";
    }
  }
}

TEST_F(Sas, EveryFailureRowGivesItsCode) {
  const struct {
    const char* scenario;
    int modifier;
    int debugLevel;
    int expected;
    const char* stage;
    const char* shortenOn;  // typed line after which time-outs are shortened
    Lines typed;
    const char* line;  // a line of the failure, after "sasflash:<stage>:<address>: "
  } rows[] = {
      {"login-silence.scn", 1, 2, IO_TIMEOUT, "connect", nullptr, {}, "exp_user1 error=-13"},
      {"firewall.scn", 1, 2, IO_CONN_ERR, "connect", nullptr, {},
       "PROBABLE FIREWALL INTERCEPT - NEED TO AUTHENTICATE\n"},
      {"login-invalid.scn", 1, 2, IO_BAD_SWITCH_LOGIN, "connect", nullptr, kLogin,
       "exp_prompt: got Invalid: \"Login:\"\n"},
      {"main-after-target.scn", 2, 2, IO_CONN_ERR, "connect", nullptr, join({kLogin, {"target SM1"}}), nullptr},
      // A storage module that is not installed: the same code at every debug level.
      {"sm2-not-installed.scn", 3, 2, IO_NO_HARDWARE, "connect", nullptr, join({kLogin, {"target SM2"}}), nullptr},
      {"sm2-not-installed.scn", 3, 1, IO_NO_HARDWARE, "connect", nullptr, join({kLogin, {"target SM2"}}), nullptr},
      {"sm2-not-installed.scn", 3, 0, IO_NO_HARDWARE, "update", nullptr, join({kLogin, {kSm2}}),
       "SM2 is not installed.\n"},
      {"tftp-busy.scn", 1, 2, IO_BUSY_HARDWARE, "update", nullptr, join({kLogin, {"version", kFw}}),
       "TFTP Client is busy. Try again later.\\r\n"},
      // The refusal follows the progress on its line; no retry although a key is asked for.
      {"bad-file.scn", 1, 2, IO_BAD_FILE, "update", nullptr, join({kLogin, {"version", kFw, "y", "exit"}}),
       "Error! Bad Firmware file!\n"},
      {"server-silent.scn", 1, 2, IO_SERVER_NOT_FOUND, "update", nullptr,
       join({kLogin, {"version", kFw, "y", "exit"}}), nullptr},
      {"file-not-found.scn", 1, 2, IO_FILE_NOT_FOUND, "update", nullptr, join({kLogin, {"version", kFw, "y", "exit"}}),
       "Error! TFTP Error: File not found\\r\n"},
      {"permission-denied.scn", 1, 2, IO_FILE_NOT_FOUND, "update", nullptr,
       join({kLogin, {"version", kFw, "y", "exit"}}), nullptr},
      {"download-silence.scn", 1, 2, IO_TIMEOUT, "update", "y", join({kLogin, {"version", kFw, "y"}}),
       "exp_download error=-13"},
      // All data received and no prompt: the switch is not given the command again.
      {"all-data-late.scn", 1, 2, IO_TIMEOUT, "update", "y", join({kLogin, {"version"}, kAborted}),
       "exp_main error=-13"},
      {"retry-fails.scn", 1, 2, IO_UPDATE_ERR, "update", nullptr, join({kLogin, {"version"}, times(6, kAborted)}),
       "SPECIAL (RETRY) ERROR: SM FW Download failed (attempt 6)\\r\n"},
  };
  // The error text of the six failed attempts quotes the last one only.
  const std::string lastAttempt = errorHead(IO_UPDATE_ERR) +
                                  "Do you want to start firmware download? (y/n) \nSM FW Download failed (attempt 6)\r\n"
                                  "Please enter ANY key to return to CLI command prompt\nMAIN>\n\"";
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.scenario) + " debug level " + std::to_string(row.debugLevel));
    testsupport::capture_clear();
    // A silent login is shortened from the start.
    modburn::set_time_scale(row.expected == IO_TIMEOUT && row.shortenOn == nullptr ? 0.01 : kScale);
    gModifier = row.modifier;
    const Outcome o = run(row.scenario, tftp(row.debugLevel), echoing(row.shortenOn));
    if (row.debugLevel == 2) {
      expectFailure(o, row.expected, row.stage);
    } else {
      EXPECT_EQ(o.rc, row.expected) << o.err << "\n" << o.log;
      EXPECT_EQ(o.err.rfind(errorHead(row.expected), 0), 0u) << o.err;
    }
    EXPECT_EQ(o.typed, row.typed);
    if (row.line != nullptr) {
      EXPECT_NE(o.log.find(prefix(row.stage) + row.line), std::string::npos) << row.line << "\n" << o.log;
    }
    if (std::string(row.scenario) == "retry-fails.scn") {
      EXPECT_EQ(o.err, lastAttempt);
    }
    if (o.typed.size() >= 2) expectNoPasswords(o);
    int commands = 0;
    for (const std::string& t : o.typed) commands += t.rfind("fw", 0) == 0 ? 1 : 0;
    EXPECT_EQ(testsupport::capture_count(retrying()), commands > 0 ? commands - 1 : 0);
  }
}

// Refused requests never reach the network: the error text has no switch text.
TEST_F(Sas, RefusedRequestsTouchNoSwitch) {
  const std::string ip = address_;
  const std::string dir199 = std::string(199, 'd');
  const struct {
    std::string address, url;
    int debugLevel;
    int modifier;
    int expected;
  } rows[] = {
      {ip, kUrl, 1, 0, IO_INV_MOD},
      {ip, kUrl, 1, 4, IO_INV_MOD},
      {ip, kUrl, 3, 0, IO_BAD_PARAMS},
      {"sassw", kUrl, 1, 1, IO_INV_URL_HOST},
      {ip + ":23", kUrl, 1, 1, IO_INV_IP},
      {ip, "ftp://u:p@10.0.0.9/fw/image.bin", 1, 1, IO_INV_URL_SCHEME},
      {ip, "tftp://10.0.0.9:70/fw/image.bin", 1, 1, IO_INV_URL_SYNTAX},
      {ip, "tftp://10.0.0.9/fw/", 1, 1, IO_INV_URL_SYNTAX},
      // "fw.bin 2" would flash SM2 from a file "fw.bin".
      {ip, "tftp://10.0.0.9/fw/fw.bin 2", 1, 2, IO_INV_URL_SYNTAX},
      {ip, "tftp://10.0.0.9 1/fw/fw.bin", 1, 1, IO_INV_URL_SYNTAX},
      {ip, "tftp://10.0.0.9/" + std::string(200, 'd') + "/fw.bin", 1, 1, IO_INV_URL_SYNTAX},
      {ip, "tftp://10.0.0.9/fw/" + std::string(100, 'f'), 1, 1, IO_INV_URL_SYNTAX},
      // A command of more than 199 characters is not typed cut.
      {ip, "tftp://10.0.0.9/" + dir199 + "/fw.bin", 1, 2, IO_INV_URL_SYNTAX},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url + " on " + row.address + " modifier " + std::to_string(row.modifier));
    const SwitchRequest req{row.address.c_str(), "admin", "Sw1tch-Pw", row.url.c_str(), false, row.debugLevel,
                            row.modifier};
    char err[1000];
    EXPECT_EQ(sasflash(&req, err, sizeof err), row.expected) << err;
    EXPECT_EQ(std::string(err), "Error: SASSwitch switch=" + row.address + ": " + err2String(row.expected));
  }
}

// --- The frame's retry -------------------------------------------------------------

// A family whose attempts are scripted: each says its result and whether
// the switch asked for another attempt.
struct Attempt {
  int rc;
  bool asked;
};
std::vector<Attempt> gAttempts;
int gCalls = 0;

struct AskedState {
  bool asked;
};

int scriptedUpdate(modburn::Stage& st) {
  const Attempt a = gAttempts[std::min<std::size_t>(static_cast<std::size_t>(gCalls), gAttempts.size() - 1)];
  ++gCalls;
  st.run.state<AskedState>().asked = a.asked;
  return a.rc;
}

bool scriptedRetryWanted(modburn::Run& run) { return run.state<AskedState>().asked; }

class FrameRetry : public switchtest::LogCapture {};

TEST_F(FrameRetry, OnlyAttemptsTheSwitchAskedToRepeatAreRetried) {
  modburn::set_time_scale(0.001);
  const std::string address = switchtest::testAddress(203);
  modburn::Family f{.module = "testflash", .display = "Test", .target = "test switch",
                    .params = {.schemes = URL_SCHEME_TFTP}};
  f.login = [](modburn::Stage&) { return 0; };
  f.update = scriptedUpdate;
  f.updateAttempts = 6;
  f.retryWanted = scriptedRetryWanted;
  const struct {
    std::vector<Attempt> attempts;
    int expected;
    int calls;
  } rows[] = {
      {{{IO_UPDATE_ERR, true}}, IO_UPDATE_ERR, 6},
      {{{IO_UPDATE_ERR, true}, {0, false}}, 0, 2},
      {{{IO_UPDATE_ERR, false}}, IO_UPDATE_ERR, 1},  // a failed wait, not the switch's request
      {{{IO_UPDATE_ERR, true}, {IO_UPDATE_ERR, false}}, IO_UPDATE_ERR, 2},
      {{{IO_UPDATE_ERR, true}, {IO_TIMEOUT, true}}, IO_TIMEOUT, 2},
  };
  for (const auto& row : rows) {
    testsupport::capture_clear();
    gAttempts = row.attempts;
    gCalls = 0;
    switchsim::Scenario sc;
    std::string error;
    ASSERT_TRUE(switchsim::parse_scenario("silence\n", "silence.scn", sc, error)) << error;
    switchsim::SimulatedSwitch sw;
    ASSERT_TRUE(sw.start(address, 23, sc, {}, &error)) << error;
    const SwitchRequest req{address.c_str(), "admin", "pw", "tftp://10.0.0.9/fw.bin", false, 0, 0};
    char err[1000];
    EXPECT_EQ(modburn::run_module(f, &req, err, sizeof err), row.expected) << err;
    sw.wait();
    EXPECT_EQ(gCalls, row.calls);
    EXPECT_EQ(testsupport::capture_count("testflash:" + address + ": retrying update"), row.calls - 1);
  }
}

}  // namespace
