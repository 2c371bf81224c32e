// intelflash against simulated Intel consoles.
#include <string>
#include <vector>

#include "com/timescale.h"
#include "core/iostatus.h"
#include "simrun.h"
#include "switches/modules.h"

namespace {

using switchtest::ModuleSim;
using switchtest::Outcome;
using switchtest::Request;
using switchtest::shortenAfter;

using Lines = std::vector<std::string>;

constexpr const char* kUrl = "tftp://10.0.0.9/fw/image.bin";

Lines join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// What the library types from the ping up to the confirmed start, for a
// data type, a path command and a file name.
Lines transfer(const std::string& datatype, const std::string& path, const std::string& file) {
  return {"ping 10.0.0.9", "transfer download", "serverip 10.0.0.9", "datatype " + datatype, "path " + path,
          "filename " + file, "start", "y"};
}

const Lines kLogin = {"admin", "Sw1tch-Pw"};
const Lines kInventory = {"show inventory"};
const Lines kExits = {"exit", "exit"};
const Lines kCode = transfer("code", "fw/", "image.bin");

Request tftp(int debugLevel, bool reboot = false, const std::string& url = kUrl) {
  Request r;
  r.url = url;
  r.debugLevel = debugLevel;
  r.reboot = reboot;
  return r;
}

// Every update at the highest telnet debug level, against a switch that
// echoes the password: neither password may reach the log or the error text.
switchsim::SimOptions echoing(const char* shortenOn = nullptr, double scale = 0.01) {
  switchsim::SimOptions opts = shortenOn != nullptr ? shortenAfter(shortenOn, scale) : switchsim::SimOptions{};
  opts.echo_password = true;
  telnet_setDebugLevel(2);
  return opts;
}

class Intel : public ModuleSim {
 protected:
  Intel() : ModuleSim(intelflash, "intelflash", "Intel", "intel") {}
};

TEST_F(Intel, SuccessfulUpdatesTypeTheDialogue) {
  const auto at = [this](const char* stage, const std::string& text) { return prefix(stage) + text; };
  const struct {
    const char* scenario;
    Request req;
    Lines typed;
    Lines logged;  // lines the log must hold
  } rows[] = {
      {"success.scn", tftp(1), join({kLogin, kInventory, kCode, kExits}),
       {at("connect", "have User prompt\n"), at("connect", "have Password prompt\n"),
        at("connect", "have command prompt\n"),
        at("logConfigInfo", "Switch Description: System Description............. Intel sim switch module"),
        at("logConfigInfo", "Active FW Version: Software Version............... 9.9.9-sim"),
        at("update", "writing \"transfer download\"\n"), at("update", "writing serverip: 10.0.0.9\n"),
        at("update", "writing: datatype code\\r\n"), at("update", "writing: path fw/\\r\n"),
        at("update", "writing: filename image.bin\\r\n"), at("update", "transfer download succeeded, got prompt\n"),
        at("update", "Update succeeded tftp://10.0.0.9/fw/image.bin\n")}},
      // The question shares its line with the statement of unsaved changes.
      {"success-reboot.scn", tftp(2, true), join({kLogin, kInventory, kCode, kExits, {"reset system", "y"}}),
       {at("update", "downloading: TFTP code transfer starting\n"), at("reboot", "Resetting/rebooting switch\n"),
        at("reboot", "return SUCCESS\n")}},
      // "Configuration Saved" and the restart share a line; debug level 0 lists no inventory.
      {"reset-saved-restart.scn", tftp(0, true), join({kLogin, kCode, kExits, {"reset system"}}),
       {at("update", "Update succeeded tftp://10.0.0.9/fw/image.bin\n")}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.scenario) + " at debug level " + std::to_string(row.req.debugLevel));
    testsupport::capture_clear();
    const Outcome o = run(row.scenario, row.req, echoing());
    EXPECT_EQ(o.rc, 0) << o.err << "\n" << o.log;
    EXPECT_EQ(o.err, "");
    EXPECT_TRUE(o.session.completed) << o.session.stopped_at << ": " << o.session.outcome;
    EXPECT_EQ(o.typed, row.typed);
    expectNoPasswords(o);
    for (const std::string& line : row.logged) {
      EXPECT_NE(o.log.find(line), std::string::npos) << "missing: " << line << "\n" << o.log;
    }
    EXPECT_EQ(o.log.find("STOP"), std::string::npos);
    EXPECT_EQ(o.log.find("downloading:") != std::string::npos, row.req.debugLevel == 2) << "progress at level 2 only";
  }
}

// Microcontroller code: its message also reads "completed successfully";
// the switch powers down: no exit, no reset although one was asked for, and
// success for Java.
TEST_F(Intel, MicrocontrollerCodeEndsWithTheStopLineAfterTheClose) {
  const Outcome o = run("mcu.scn", tftp(2, true, "tftp://10.0.0.9/fw/mcu.hex"), echoing());
  ASSERT_EQ(o.rc, 0) << o.err << "\n" << o.log;
  EXPECT_EQ(o.err, "");
  EXPECT_TRUE(o.session.completed) << o.session.stopped_at << ": " << o.session.outcome;
  EXPECT_EQ(o.typed, join({kLogin, kInventory, transfer("8051-mcu-code", "fw/", "mcu.hex")}));
  expectNoPasswords(o);
  const std::string closing = "intelflash:disconnect:" + address_ + ": closing handle=";
  const std::string stop =
      "intelflash:" + address_ + ": update success: STOP: switch powered down - needs manual restart\n";
  const std::size_t closedAt = o.log.find(closing);
  const std::size_t stopAt = o.log.find(stop);
  ASSERT_NE(closedAt, std::string::npos) << o.log;
  ASSERT_NE(stopAt, std::string::npos) << o.log;
  EXPECT_LT(closedAt, stopAt) << "the STOP line follows the close";
  EXPECT_EQ(testsupport::capture_count(stop), 1);
  EXPECT_NE(o.log.find(prefix("update") + "MCU Update succeeded tftp://10.0.0.9/fw/mcu.hex\n"), std::string::npos);
  EXPECT_NE(o.log.find(prefix("update") + "return SUCCESS_STOP\n"), std::string::npos);
  EXPECT_EQ(o.log.find("intelflash:reboot:"), std::string::npos) << "no reset after microcontroller code";
}

// Each failure at debug level 2; the rows also vary the URL, so that they
// show the data type (".hex" anywhere in the file name, case as written)
// and the path command ("path /" without a directory) the URL gives.
TEST_F(Intel, EveryFailureRowGivesItsCode) {
  const std::string longDir = std::string(96, 'd') + "/" + std::string(102, 'e');  // 199 characters
  const struct {
    const char* scenario;
    std::string url;
    int expected;
    const char* stage;
    const char* shortenOn;  // typed line after which time-outs are shortened
    Lines typed;
    const char* line;  // a line of the failure, after "intelflash:<stage>:<address>: "
  } rows[] = {
      {"login-silence.scn", kUrl, IO_TIMEOUT, "connect", nullptr, {}, "exp_user1 error=-13"},
      {"firewall.scn", kUrl, IO_CONN_ERR, "connect", nullptr, {},
       "PROBABLE FIREWALL INTERCEPT - NEED TO AUTHENTICATE\n"},
      {"user-again.scn", kUrl, IO_CONN_ERR, "connect", nullptr, {"admin"}, nullptr},
      {"login-invalid.scn", kUrl, IO_BAD_SWITCH_LOGIN, "connect", nullptr, kLogin,
       "exp_prompt: got Invalid: \"User:\"\n"},
      {"transfer-busy.scn", "tftp://10.0.0.9/fw.hex", IO_CONN_ERR, "update", nullptr,
       [] {
         Lines t = join({kLogin, kInventory, transfer("8051-mcu-code", "/", "fw.hex")});
         t.pop_back();  // no "y": the start was refused
         return t;
       }(),
       nullptr},
      {"file-not-found.scn", "tftp://10.0.0.9/images/new/fw.hex.bin", IO_FILE_NOT_FOUND, "update", "y",
       join({kLogin, kInventory, transfer("8051-mcu-code", "images/new/", "fw.hex.bin")}),
       "download failed: File transfer failed - returning File not found (IO_FILE_NOT_FOUND)\n"},
      {"server-silent.scn", "tftp://10.0.0.9/fw/FW.HEX", IO_SERVER_NOT_FOUND, "update", "y",
       join({kLogin, kInventory, transfer("code", "fw/", "FW.HEX")}), nullptr},
      // The CRC result follows a progress message on its line.
      {"crc-failed.scn", "tftp://10.0.0.9:69/" + longDir + "/image.bin", IO_BAD_FILE, "update", "y",
       join({kLogin, kInventory, transfer("code", longDir + "/", "image.bin")}),
       "download failed: File failed CRC check - returning Bad file format/contents (IO_BAD_FILE)\n"},
      {"progress-silence.scn", "tftp://10.0.0.9/fw/fwhex.bin", IO_TIMEOUT, "update", "y",
       join({kLogin, kInventory, transfer("code", "fw/", "fwhex.bin")}), "exp_download error=-13"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.scenario) + " " + row.url);
    testsupport::capture_clear();
    modburn::set_time_scale(row.expected == IO_TIMEOUT && row.shortenOn == nullptr ? 0.05 : 0.2);
    const Outcome o = run(row.scenario, tftp(2, false, row.url), echoing(row.shortenOn, 0.001));
    expectFailure(o, row.expected, row.stage);
    EXPECT_EQ(o.typed, row.typed);
    if (row.line != nullptr) {
      EXPECT_NE(o.log.find(prefix(row.stage) + row.line), std::string::npos) << row.line << "\n" << o.log;
    }
    EXPECT_EQ(o.err.find("Receive count"), std::string::npos) << "the ping's words stay out: " << o.err;
    if (o.typed.size() >= 2) expectNoPasswords(o);
  }
}

// Each set-up command refused with the prompt printed right behind the
// refusal on the same line, and once with the refusal on a line of its own.
TEST_F(Intel, EachRefusedTransferCommandEndsTheUpdate) {
  constexpr const char* kSameLine = "Incorrect input! Use 'help' for a list of commands.(Intel) transfer download>";
  constexpr const char* kOwnLine = "Incorrect input! Use 'help' for a list of commands.\\r\\n(Intel) transfer download>";
  const Lines commands = {"transfer download", "serverip 10.0.0.9", "datatype code", "path fw/", "filename image.bin"};
  const struct {
    std::size_t refused;  // index of the refused command
    const char* refusal;
    const char* what;  // its failure line
    int expected;
  } rows[] = {
      {0, kSameLine, "Transfer download", IO_UPDATE_ERR}, {1, kSameLine, "serverip", IO_SERVER_NOT_FOUND},
      {2, kSameLine, "datatype", IO_UPDATE_ERR},          {3, kSameLine, "path", IO_UPDATE_ERR},
      {4, kSameLine, "filename", IO_UPDATE_ERR},          {1, kOwnLine, "serverip", IO_SERVER_NOT_FOUND},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(commands[row.refused] + " / " + row.refusal);
    testsupport::capture_clear();
    std::string sc = "include login.inc\ninclude ping-ok.inc\n";
    for (std::size_t k = 0; k < row.refused; ++k) {
      sc += "expect " + commands[k] + "\nsend \"\\r\\n(Intel) transfer download>\"\n";
    }
    sc += "expect " + commands[row.refused] + "\nsend \"\\r\\n" + row.refusal + "\"\n";
    const Outcome o = run(sc, tftp(0));
    EXPECT_EQ(o.rc, row.expected) << o.err << "\n" << o.log;
    Lines typed = join({kLogin, {"ping 10.0.0.9"}});
    typed.insert(typed.end(), commands.begin(), commands.begin() + static_cast<long>(row.refused) + 1);
    EXPECT_EQ(o.typed, typed) << "nothing typed after the refusal";
    EXPECT_NE(o.log.find(prefix("update") + row.what + " command failed: Incorrect input! Use 'help'"),
              std::string::npos)
        << o.log;
  }
}

// Refused requests never reach the network: the error text has no switch text.
TEST_F(Intel, RefusedRequestsTouchNoSwitch) {
  const std::string ip = address_;
  const struct {
    std::string address, url;
    int debugLevel;
    int expected;
  } rows[] = {
      {"intelsw", kUrl, 1, IO_INV_URL_HOST},
      {ip + ":23", kUrl, 1, IO_INV_IP},
      {ip, "ftp://u:p@10.0.0.9/fw/image.bin", 1, IO_INV_URL_SCHEME},
      {ip, "http://10.0.0.9/fw/image.bin", 1, IO_INV_URL_SCHEME},
      {ip, "tftp://10.0.0.9:70/fw/image.bin", 1, IO_INV_URL_SYNTAX},
      {ip, "tftp://10.0.0.9/fw/", 1, IO_INV_URL_SYNTAX},
      {ip, "tftp://10.0.0.9/fw/fw.bin 2", 1, IO_INV_URL_SYNTAX},
      {ip, "tftp://10.0.0.9/fw dir/fw.bin", 1, IO_INV_URL_SYNTAX},
      {ip, "tftp://10.0.0.9/" + std::string(200, 'd') + "/fw.bin", 1, IO_INV_URL_SYNTAX},
      {ip, "tftp://10.0.0.9/fw/" + std::string(100, 'f'), 1, IO_INV_URL_SYNTAX},
      {ip, "tftp://" + std::string(100, 's') + "/fw/fw.bin", 1, IO_INV_URL_SYNTAX},
      {ip, "", 1, IO_MISSING_URL},
      {ip, kUrl, 3, IO_BAD_PARAMS},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url + " on " + row.address);
    const SwitchRequest req{row.address.c_str(), "admin", "Sw1tch-Pw", row.url.c_str(), false, row.debugLevel, 0};
    char err[1000];
    EXPECT_EQ(intelflash(&req, err, sizeof err), row.expected) << err;
    EXPECT_EQ(std::string(err), "Error: Intel switch=" + row.address + ": " + err2String(row.expected));
  }
}

}  // namespace
