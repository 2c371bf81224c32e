// sasflash against simulated SAS consoles, and the frame's retry of the
// attempts that a switch asks to repeat. Every run is at telnet debug level
// 2 against a switch that echoes the password, which must never reach the
// log or the error text.
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "core/iostatus.h"
#include "simrun.h"
#include "simtable.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace {

using switchtest::Outcome;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

constexpr const char* kUrl = "tftp://10.0.0.9/fw/image.bin";
constexpr const char* kFw = "fwdownload 10.0.0.9 fw/image.bin";
// Waits of 60 s take 3 s, the pause between attempts 0.5 s.
constexpr double kScale = 0.05;

Lines join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

const Lines kLogin = {"admin", "Sw1tch-Pw"}, kVersion = {"version"};
const Lines kAborted = {kFw, "y", "y"};  // command, confirmation, the key that ends the attempt
const Lines kFailed = {kFw, "y", "exit"};

// The test's requests carry a modifier: the entry is called through this one.
int gModifier = 1;
int sasWithModifier(const SwitchRequest* req, char* errText, int errTextSize) {
  SwitchRequest r = *req;
  r.modifier = gModifier;
  return sasflash(&r, errText, errTextSize);
}

class Sas : public switchtest::ModuleSim {
 protected:
  Sas() : ModuleSim(sasWithModifier, "sasflash", "SASSwitch", "sas") {}

  // One update; time-outs shortened to a hundredth once shortenOn is typed;
  // commands_ gets the time each download command was typed.
  Outcome update(const std::string& scenario, int modifier, int debugLevel, const char* url = kUrl,
                 const char* shortenOn = nullptr) {
    switchsim::SimOptions opts = shortenOn ? switchtest::shortenAfter(shortenOn, 0.01) : switchsim::SimOptions{};
    opts.echo_password = true;
    auto shorten = opts.transcript;
    opts.transcript = [this, shorten](const std::string& line) {
      if (shorten) shorten(line);
      const std::lock_guard<std::mutex> lock(m_);
      if (line.rfind("< fw", 0) == 0) commands_.push_back(Clock::now());
    };
    telnet_setDebugLevel(2);
    testsupport::capture_clear();
    commands_.clear();
    gModifier = modifier;
    const Outcome o = run(scenario, {.url = url, .debugLevel = debugLevel}, opts);
    if (o.typed.size() >= 2) expectNoPasswords(o);
    const int retries = commands_.empty() ? 0 : static_cast<int>(commands_.size()) - 1;
    EXPECT_EQ(testsupport::capture_count("sasflash:" + address_ + ": retrying update"), retries);
    return o;
  }

  std::mutex m_;
  std::vector<Clock::time_point> commands_;
};

TEST_F(Sas, SuccessfulUpdatesTypeTheDialogue) {
  const struct {
    const char* scenario;
    int modifier, debugLevel;
    const char* url;
    Lines typed;
    std::vector<std::pair<const char*, const char*>> logged;  // stage, line
  } rows[] = {
      {"success.scn", 1, 1, kUrl, join({kLogin, kVersion, {kFw, "y"}}),
       {{"logConfigInfo", "Active FW Version: Firmware Version: 3.2.1-sim"},
        {"update", "writing: \"fwdownload 10.0.0.9 fw/image.bin\\r\\n\"\n"},
        {"update", "Confirm download message: Do you want to start firmware download? (y/n) \n"},
        {"update", "Update succeeded tftp://10.0.0.9/fw/image.bin\n"}}},
      // No directory: a slash right before the file name; level 0 reads no version.
      {"success.scn", 1, 0, "tftp://10.0.0.9/image.bin", join({kLogin, {"fwdownload 10.0.0.9 /image.bin", "y"}}), {}},
      {"sm1.scn", 2, 2, kUrl,
       join({kLogin, {"target SM1", "stat", "target main", "fwstoragedownload 10.0.0.9 fw/image.bin 1", "y"}}),
       {{"logConfigInfo", "Active DSS1 FW Version: Firmware Revision: 5.0.1-sim"},
        {"update", "Confirm download message: Do you want to start SM firmware download? (y/n) \n"},
        {"update", "Downloading file - 1048576 bytes received"}, {"update", "Flash ROM erased.\n"}}},
      // Entering SM2 the switch shows the SM1 prompt first.
      {"sm2.scn", 3, 1, kUrl,
       join({kLogin, {"target SM2", "stat", "target main", "fwstoragedownload 10.0.0.9 fw/image.bin 2", "y"}}),
       {{"logConfigInfo", "Active DSS2 FW Version: Firmware Revision: 5.0.2-sim"},
        {"update", "Confirm download message: Are you sure you want to install this firmware? (y/n) \n"}}},
      {"retry-ok.scn", 1, 1, kUrl, join({kLogin, kVersion, kAborted, {kFw, "y"}}),
       {{"update", "SPECIAL (RETRY) ERROR: SSP command aborted\n"},
        {"update", "SPECIAL (RETRY) ERROR! Please enter ANY key to return to CLI command prompt\n"}}},
      // The retry message and the key prompt on one line: the prompt is answered.
      {"retry-one-line.scn", 1, 1, kUrl, join({kLogin, kVersion, kAborted, {kFw, "y"}}), {}},
      // All data received, then the prompt: the switch is ready for another attempt.
      {"all-data-then-main.scn", 1, 1, kUrl, join({kLogin, kVersion, kAborted, {kFw, "y"}}), {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.scenario) + " debug level " + std::to_string(row.debugLevel));
    modburn::set_time_scale(kScale);
    const Outcome o = update(row.scenario, row.modifier, row.debugLevel, row.url);
    EXPECT_EQ(o.rc, 0) << o.err << "\n" << o.log;
    EXPECT_TRUE(o.session.completed) << o.session.stopped_at << ": " << o.session.outcome;
    EXPECT_EQ(o.typed, row.typed);
    for (const auto& [stage, line] : row.logged) {
      EXPECT_NE(o.log.find(prefix(stage) + line), std::string::npos) << "missing: " << line << "\n" << o.log;
    }
    if (commands_.size() == 2) {
      EXPECT_GE(commands_[1] - commands_[0], std::chrono::milliseconds(500)) << "the pause of 10 s, scaled";
    }
    EXPECT_EQ(o.log.find("Flash ROM erased") != std::string::npos, row.debugLevel == 2) << "progress at level 2";
  }
}

TEST_F(Sas, EveryFailureRowGivesItsCode) {
  Lines sixAttempts = join({kLogin, kVersion});
  for (int i = 0; i < 6; ++i) sixAttempts = join({sixAttempts, kAborted});
  const struct {
    const char* scenario;
    int modifier, debugLevel, expected;
    const char* stage;
    const char* shortenOn;  // typed line after which time-outs are shortened
    Lines typed;
    const char* line;  // a line of the failure, after "sasflash:<stage>:<address>: "
  } rows[] = {
      {"login-silence.scn", 1, 2, IO_TIMEOUT, "connect", nullptr, {}, "exp_user1 error=-13"},
      {"firewall.scn", 1, 2, IO_CONN_ERR, "connect", nullptr, {}, "PROBABLE FIREWALL INTERCEPT - NEED TO AUTHENTICATE\n"},
      {"login-invalid.scn", 1, 2, IO_BAD_SWITCH_LOGIN, "connect", nullptr, kLogin, "exp_prompt: got Invalid: \"Login:\"\n"},
      {"main-after-target.scn", 2, 2, IO_CONN_ERR, "connect", nullptr, join({kLogin, {"target SM1"}}), nullptr},
      // A storage module that is not installed: the same code at every debug level.
      {"sm2-not-installed.scn", 3, 2, IO_NO_HARDWARE, "connect", nullptr, join({kLogin, {"target SM2"}}), nullptr},
      {"sm2-not-installed.scn", 3, 1, IO_NO_HARDWARE, "connect", nullptr, join({kLogin, {"target SM2"}}), nullptr},
      {"sm2-not-installed.scn", 3, 0, IO_NO_HARDWARE, "update", nullptr,
       join({kLogin, {"fwstoragedownload 10.0.0.9 fw/image.bin 2"}}), "SM2 is not installed.\n"},
      {"tftp-busy.scn", 1, 2, IO_BUSY_HARDWARE, "update", nullptr, join({kLogin, kVersion, {kFw}}),
       "TFTP Client is busy. Try again later.\\r\n"},
      // The refusal follows the progress on its line; no retry although a key is asked for.
      {"bad-file.scn", 1, 2, IO_BAD_FILE, "update", nullptr, join({kLogin, kVersion, kFailed}),
       "Error! Bad Firmware file!\n"},
      {"server-silent.scn", 1, 2, IO_SERVER_NOT_FOUND, "update", nullptr, join({kLogin, kVersion, kFailed}), nullptr},
      {"file-not-found.scn", 1, 2, IO_FILE_NOT_FOUND, "update", nullptr, join({kLogin, kVersion, kFailed}),
       "Error! TFTP Error: File not found\\r\n"},
      {"permission-denied.scn", 1, 2, IO_FILE_NOT_FOUND, "update", nullptr, join({kLogin, kVersion, kFailed}), nullptr},
      {"download-silence.scn", 1, 2, IO_TIMEOUT, "update", "y", join({kLogin, kVersion, {kFw, "y"}}),
       "exp_download error=-13"},
      // All data received and no prompt: the switch is not given the command again.
      {"all-data-late.scn", 1, 2, IO_TIMEOUT, "update", "y", join({kLogin, kVersion, kAborted}), "exp_main error=-13"},
      {"retry-fails.scn", 1, 2, IO_UPDATE_ERR, "update", nullptr, sixAttempts,
       "SPECIAL (RETRY) ERROR: SM FW Download failed (attempt 6)\\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.scenario) + " debug level " + std::to_string(row.debugLevel));
    // A silent login is shortened from the start.
    modburn::set_time_scale(row.expected == IO_TIMEOUT && row.shortenOn == nullptr ? 0.01 : kScale);
    const Outcome o = update(row.scenario, row.modifier, row.debugLevel, kUrl, row.shortenOn);
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
    if (std::string(row.scenario) == "retry-fails.scn") {  // the error quotes the last attempt only
      EXPECT_EQ(o.err, errorHead(IO_UPDATE_ERR) +
                           "Do you want to start firmware download? (y/n) \nSM FW Download failed (attempt 6)\r\n"
                           "Please enter ANY key to return to CLI command prompt\nMAIN>\n\"");
    }
  }
}

// Refused requests never reach the network: the error text has no switch text.
TEST_F(Sas, RefusedRequestsTouchNoSwitch) {
  const std::string ip = address_;
  const struct {
    std::string address, url;
    int debugLevel, modifier, expected;
  } rows[] = {
      {ip, kUrl, 1, 0, IO_INV_MOD},
      {ip, kUrl, 1, 4, IO_INV_MOD},
      {ip, kUrl, 3, 0, IO_BAD_PARAMS},
      {"sassw", kUrl, 1, 1, IO_INV_URL_HOST},
      {ip + ":23", kUrl, 1, 1, IO_INV_IP},
      {ip, "ftp://u:p@10.0.0.9/fw/image.bin", 1, 1, IO_INV_URL_SCHEME},
      {ip, "tftp://10.0.0.9:70/fw/image.bin", 1, 1, IO_INV_URL_SYNTAX},
      {ip, "tftp://10.0.0.9/fw/", 1, 1, IO_INV_URL_SYNTAX},
      {ip, "tftp://10.0.0.9/fw/fw.bin 2", 1, 2, IO_INV_URL_SYNTAX},  // would flash SM2 from "fw.bin"
      {ip, "tftp://10.0.0.9 1/fw/fw.bin", 1, 1, IO_INV_URL_SYNTAX},
      {ip, "tftp://10.0.0.9/" + std::string(200, 'd') + "/fw.bin", 1, 1, IO_INV_URL_SYNTAX},
      {ip, "tftp://10.0.0.9/fw/" + std::string(100, 'f'), 1, 1, IO_INV_URL_SYNTAX},
      // A command of more than 199 characters is not typed cut.
      {ip, "tftp://10.0.0.9/" + std::string(199, 'd') + "/fw.bin", 1, 2, IO_INV_URL_SYNTAX},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url + " on " + row.address + " modifier " + std::to_string(row.modifier));
    const SwitchRequest req{row.address.c_str(), "admin", "pw", row.url.c_str(), false, row.debugLevel, row.modifier};
    char err[1000];
    EXPECT_EQ(sasflash(&req, err, sizeof err), row.expected) << err;
    EXPECT_EQ(std::string(err), "Error: SASSwitch switch=" + row.address + ": " + err2String(row.expected));
  }
}

class SasTable : public switchtest::TableSim {
 protected:
  SasTable() : TableSim(sasWithModifier, "sasflash", "SASSwitch", "sas") {}

  // Plays every row with the one modifier of the table.
  std::vector<switchtest::TableRun> playWith(int modifier, const std::vector<switchtest::TableRow>& plays) {
    gModifier = modifier;
    return playAll(plays);
  }
  int retries(const switchtest::TableRun& p) const {
    return testsupport::capture_count("sasflash:" + p.address + ": retrying update");
  }
};

// Consoles that turn on the dialogue: a firewall prompt sharing the
// banner's line, a busy TFTP client that asks all the same, and the prompt
// back in the middle of the download. Each ends at once with its code,
// after one attempt, quoting the switch, with nothing typed into what it
// must not answer.
TEST_F(SasTable, RefusalsEndAtOnceWithTheirCode) {
  modburn::set_time_scale(kScale);  // a missed refusal waits 60 s: 3 s here
  gModifier = 1;
  const std::vector<switchtest::TableRun> runs = playFailures(
      {
          {"firewall-login.scn", IO_CONN_ERR, "connect", {}, "Firewall authentication required. Login: "},
          {"busy-asks.scn", IO_BUSY_HARDWARE, "update", join({kLogin, kVersion, {kFw}}), "TFTP Client is busy. Do you"},
          {"download-prompt-back.scn", IO_UPDATE_ERR, "update", join({kLogin, kVersion, {kFw, "y"}}),
           "TFTP session refused by 10.0.0.9\nMAIN>"},
      },
      kUrl);
  for (const auto& p : runs) EXPECT_EQ(retries(p), 0) << p.address;
  EXPECT_EQ(testsupport::capture_count("sasflash:update:" + runs[2].address + ": Error! MAIN>\n"), 1);
}

// Listings that go on and on: the switch's version, the storage module's
// target answers and its "stat" each stop after 300 lines, and the update
// goes on to its end.
TEST_F(SasTable, EndlessListingsStopAfterTheirLines) {
  modburn::set_time_scale(kScale);
  std::string versions, prompts, revisions;
  for (int i = 0; i < 1000; ++i) {
    versions += "Firmware Version: 3.2." + std::to_string(i) + "\\r\\n";
    prompts += "SM2>\\r\\n";
    revisions += "Firmware Revision: 5.0." + std::to_string(i) + "\\r\\n";
  }
  const std::string sm1 = "expect fwstoragedownload 10.0.0.9 fw/image.bin 1\n"
                          "send \"\\r\\nDo you want to start SM firmware download? (y/n) \"\ninclude receive-ok.inc\n";
  const std::string fwSm1 = "fwstoragedownload 10.0.0.9 fw/image.bin 1";
  const struct {
    int modifier;
    std::string scenario;
    const char* line;  // the end of the listing
    const char* item;  // a line of it, logged per line listed
    Lines typed;
  } rows[] = {
      {1,
       "include login.inc\nreply version => \"\\r\\n" + versions +
           "MAIN>\"\nexpect fwdownload *\nsend \"\\r\\nDo you want to start firmware download? (y/n) \"\n"
           "include receive-ok.inc\n",
       "version listing: no end after 300 lines\n", "Active FW Version: Firmware Version", join({kLogin, kVersion, {kFw, "y"}})},
      {2, "include login.inc\nreply target SM1 => \"\\r\\n" + prompts + "SM1>\"\n" + sm1,
       "target command: no end after 300 lines\n", nullptr, join({kLogin, {"target SM1", "target main", fwSm1, "y"}})},
      {2,
       "include login.inc\nreply stat => \"\\r\\nStorage module status\\r\\n" + revisions + "SM1>\"\n" + sm1,
       "stat listing: no end after 300 lines\n", "Active DSS1 FW Version: Firmware Revision",
       join({kLogin, {"target SM1", "stat", "target main", fwSm1, "y"}})},
  };
  const auto start = std::chrono::steady_clock::now();
  for (const int modifier : {1, 2}) {
    std::vector<switchtest::TableRow> plays;
    std::vector<std::size_t> played;
    for (std::size_t i = 0; i < std::size(rows); ++i) {
      if (rows[i].modifier != modifier) continue;
      plays.push_back({rows[i].scenario, {.url = kUrl, .debugLevel = 2}});
      played.push_back(i);
    }
    const std::vector<switchtest::TableRun> runs = playWith(modifier, plays);
    for (std::size_t k = 0; k < runs.size(); ++k) {
      const auto& row = rows[played[k]];
      SCOPED_TRACE(row.line);
      expectSucceeded(runs[k], row.typed);
      const std::string head = "sasflash:logConfigInfo:" + runs[k].address + ": ";
      EXPECT_EQ(testsupport::capture_count(head + row.line), 1);
      if (row.item != nullptr) {
        EXPECT_EQ(testsupport::capture_count(head + row.item), 300);
      }
    }
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

// --- The frame's retry: a family whose attempts are scripted, each giving
// its result (kAnotherAttempt when the switch asked for another attempt).

std::vector<int> gAttempts;
std::size_t gCalls = 0;

int scriptedUpdate(modburn::Stage&) { return gAttempts[std::min(gCalls++, gAttempts.size() - 1)]; }

class FrameRetry : public switchtest::LogCapture {};

TEST_F(FrameRetry, OnlyAttemptsTheSwitchAskedToRepeatAreRetried) {
  modburn::set_time_scale(0.001);
  const std::string address = switchtest::testAddress(203);
  modburn::Family f{.module = "testflash", .display = "Test", .target = "test switch",
                    .params = {.schemes = URL_SCHEME_TFTP}};
  f.login = [](modburn::Stage&) { return 0; };
  f.update = scriptedUpdate;
  f.updateAttempts = 6;
  constexpr int again = modburn::kAnotherAttempt;
  const struct {
    std::vector<int> attempts;
    int expected;
    std::size_t calls;
  } rows[] = {
      {{again}, IO_UPDATE_ERR, 6},
      {{again, 0}, 0, 2},
      {{IO_UPDATE_ERR}, IO_UPDATE_ERR, 1},  // a failed wait, not the switch's request
      {{again, IO_UPDATE_ERR}, IO_UPDATE_ERR, 2},
      {{again, IO_TIMEOUT}, IO_TIMEOUT, 2},
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
    EXPECT_EQ(testsupport::capture_count("testflash:" + address + ": retrying update"),
              static_cast<int>(row.calls) - 1);
  }
}

}  // namespace
