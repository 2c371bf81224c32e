// intelflash against simulated Intel consoles. Every run is at telnet debug
// level 2 against a switch that echoes the password, which must never reach
// the log or the error text.
#include <chrono>
#include <string>
#include <vector>

#include "core/iostatus.h"
#include "simrun.h"
#include "simtable.h"
#include "switches/modules.h"

namespace {

using switchtest::Outcome;
using Lines = std::vector<std::string>;

constexpr const char* kUrl = "tftp://10.0.0.9/fw/image.bin";

Lines join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// What the library types from the ping up to the confirmed start.
Lines transfer(const std::string& datatype, const std::string& path, const std::string& file) {
  return {"ping 10.0.0.9", "transfer download", "serverip 10.0.0.9", "datatype " + datatype, "path " + path,
          "filename " + file, "start", "y"};
}

const Lines kLogin = {"admin", "Sw1tch-Pw"}, kInventory = {"show inventory"}, kExits = {"exit", "exit"};
const Lines kCode = transfer("code", "fw/", "image.bin");

class Intel : public switchtest::ModuleSim {
 protected:
  Intel() : ModuleSim(intelflash, "intelflash", "Intel", "intel") {}

  // One update; time-outs shortened to a thousandth once shortenOn is typed.
  Outcome update(const std::string& scenario, int debugLevel, bool reboot, const std::string& url = kUrl,
                 const char* shortenOn = nullptr) {
    switchsim::SimOptions opts = shortenOn ? switchtest::shortenAfter(shortenOn, 0.001) : switchsim::SimOptions{};
    opts.echo_password = true;
    telnet_setDebugLevel(2);
    testsupport::capture_clear();
    const Outcome o = run(scenario, {.url = url, .reboot = reboot, .debugLevel = debugLevel}, opts);
    if (o.typed.size() >= 2) expectNoPasswords(o);
    return o;
  }
};

TEST_F(Intel, SuccessfulUpdatesTypeTheDialogue) {
  const struct {
    const char* scenario;
    int debugLevel;
    Lines typed;
    std::vector<std::pair<const char*, const char*>> logged;  // stage, line
  } rows[] = {
      {"success.scn", 1, join({kLogin, kInventory, kCode, kExits}),
       {{"logConfigInfo", "Switch Description: System Description............. Intel sim switch module"},
        {"logConfigInfo", "Active FW Version: Software Version............... 9.9.9-sim"},
        {"update", "writing serverip: 10.0.0.9\n"}, {"update", "writing: path fw/\\r\n"},
        {"update", "Update succeeded tftp://10.0.0.9/fw/image.bin\n"}}},
      // The question shares its line with the statement of unsaved changes.
      {"success-reboot.scn", 2, join({kLogin, kInventory, kCode, kExits, {"reset system", "y"}}),
       {{"update", "downloading: TFTP code transfer starting\n"}, {"reboot", "return SUCCESS\n"}}},
      // "Configuration Saved" and the restart share a line; level 0 lists no inventory.
      {"reset-saved-restart.scn", 0, join({kLogin, kCode, kExits, {"reset system"}}), {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.scenario);
    const Outcome o = update(row.scenario, row.debugLevel, row.scenario != std::string("success.scn"));
    EXPECT_EQ(o.rc, 0) << o.err << "\n" << o.log;
    EXPECT_TRUE(o.session.completed) << o.session.stopped_at << ": " << o.session.outcome;
    EXPECT_EQ(o.typed, row.typed);
    for (const auto& [stage, line] : row.logged) {
      EXPECT_NE(o.log.find(prefix(stage) + line), std::string::npos) << "missing: " << line << "\n" << o.log;
    }
    EXPECT_EQ(o.log.find("downloading:") != std::string::npos, row.debugLevel == 2) << "progress at level 2 only";
  }
}

// Microcontroller code: its message also reads "completed successfully";
// the switch powers down: no exit, no reset although one was asked for,
// success for Java, and the STOP line once the session is closed.
TEST_F(Intel, MicrocontrollerCodeEndsWithTheStopLineAfterTheClose) {
  const Outcome o = update("mcu.scn", 2, true, "tftp://10.0.0.9/fw/mcu.hex");
  ASSERT_EQ(o.rc, 0) << o.err << "\n" << o.log;
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.typed, join({kLogin, kInventory, transfer("8051-mcu-code", "fw/", "mcu.hex")}));
  const std::size_t closedAt = o.log.find("intelflash:disconnect:" + address_ + ": closing handle=");
  const std::size_t stopAt =
      o.log.find("intelflash:" + address_ + ": update success: STOP: switch powered down - needs manual restart\n");
  ASSERT_NE(stopAt, std::string::npos) << o.log;
  EXPECT_LT(closedAt, stopAt) << "the STOP line follows the close";
  EXPECT_NE(o.log.find(prefix("update") + "MCU Update succeeded tftp://10.0.0.9/fw/mcu.hex\n"), std::string::npos);
  EXPECT_EQ(o.log.find("intelflash:reboot:"), std::string::npos) << "no reset after microcontroller code";
}

// Each failure at debug level 2; the rows also vary the URL, so that they
// show the data type (".hex" anywhere in the file name, case as written)
// and the path command ("path /" without a directory) the URL gives.
TEST_F(Intel, EveryFailureRowGivesItsCode) {
  const std::string longDir = std::string(96, 'd') + "/" + std::string(102, 'e');  // 199 characters
  Lines busy = join({kLogin, kInventory, transfer("8051-mcu-code", "/", "fw.hex")});
  busy.pop_back();  // the start is refused: no "y"
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
      {"firewall.scn", kUrl, IO_CONN_ERR, "connect", nullptr, {}, "PROBABLE FIREWALL INTERCEPT - NEED TO AUTHENTICATE\n"},
      {"user-again.scn", kUrl, IO_CONN_ERR, "connect", nullptr, {"admin"}, nullptr},
      {"login-invalid.scn", kUrl, IO_BAD_SWITCH_LOGIN, "connect", nullptr, kLogin, "exp_prompt: got Invalid: \"User:\"\n"},
      {"transfer-busy.scn", "tftp://10.0.0.9/fw.hex", IO_CONN_ERR, "update", nullptr, busy, nullptr},
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
      // Reset asked for: the save question is answered three times at most.
      {"save-asked-again.scn", kUrl, IO_TIMEOUT, "reboot", nullptr,
       join({kLogin, kInventory, kCode, kExits, {"reset system", "y", "y", "y"}}),
       "save question: asked again after 3 answers\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.scenario) + " " + row.url);
    const bool reboot = row.stage == std::string("reboot");
    modburn::set_time_scale(row.expected == IO_TIMEOUT && row.shortenOn == nullptr && !reboot ? 0.05 : 0.2);
    const Outcome o = update(row.scenario, 2, reboot, row.url, row.shortenOn);
    expectFailure(o, row.expected, row.stage);
    EXPECT_EQ(o.typed, row.typed);
    if (row.line != nullptr) {
      EXPECT_NE(o.log.find(prefix(row.stage) + row.line), std::string::npos) << row.line << "\n" << o.log;
    }
    EXPECT_EQ(o.err.find("Receive count"), std::string::npos) << "the ping's words stay out: " << o.err;
  }
}

// Each set-up command refused with the prompt printed right behind the
// refusal on the same line, and once with the refusal on a line of its own.
TEST_F(Intel, EachRefusedTransferCommandEndsTheUpdate) {
  const char* sameLine = "Incorrect input! Use 'help'.(Intel) transfer download>";
  const char* ownLine = "Incorrect input! Use 'help'.\\r\\n(Intel) transfer download>";
  const Lines commands = {"transfer download", "serverip 10.0.0.9", "datatype code", "path fw/", "filename image.bin"};
  const struct {
    std::size_t refused;  // index of the refused command
    const char* refusal;
    const char* what;  // its failure line
    int expected;
  } rows[] = {
      {0, sameLine, "Transfer download", IO_UPDATE_ERR}, {1, sameLine, "serverip", IO_SERVER_NOT_FOUND},
      {2, sameLine, "datatype", IO_UPDATE_ERR},          {3, sameLine, "path", IO_UPDATE_ERR},
      {4, sameLine, "filename", IO_UPDATE_ERR},          {1, ownLine, "serverip", IO_SERVER_NOT_FOUND},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(commands[row.refused] + " / " + row.refusal);
    std::string sc = "include login.inc\ninclude ping-ok.inc\n";
    for (std::size_t k = 0; k < row.refused; ++k) {
      sc += "expect " + commands[k] + "\nsend \"\\r\\n(Intel) transfer download>\"\n";
    }
    sc += "expect " + commands[row.refused] + "\nsend \"\\r\\n" + row.refusal + "\"\n";
    const Outcome o = update(sc, 0, false);
    EXPECT_EQ(o.rc, row.expected) << o.err << "\n" << o.log;
    Lines typed = join({kLogin, {"ping 10.0.0.9"}});
    typed.insert(typed.end(), commands.begin(), commands.begin() + static_cast<long>(row.refused) + 1);
    EXPECT_EQ(o.typed, typed) << "nothing typed after the refusal";
    EXPECT_NE(o.log.find(prefix("update") + row.what + " command failed: Incorrect input! Use 'help'."),
              std::string::npos) << o.log;
  }
}

// Refused requests never reach the network: the error text has no switch text.
TEST_F(Intel, RefusedRequestsTouchNoSwitch) {
  const std::string ip = address_;
  const struct {
    std::string address, url;
    int debugLevel, expected;
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

class IntelTable : public switchtest::TableSim {
 protected:
  IntelTable() : TableSim(intelflash, "intelflash", "Intel", "intel") {}
};

// Consoles that turn on the dialogue: a firewall prompt sharing the
// banner's line, a start refused and asked on one line, and the prompt back
// in the middle of the transfer. Each ends at once with its code, quoting
// the switch, with nothing typed into what it must not answer.
TEST_F(IntelTable, RefusalsEndAtOnceWithTheirCode) {
  modburn::set_time_scale(0.05);  // a missed refusal waits 100 s: 5 s here
  Lines busy = join({kLogin, kInventory, kCode});
  busy.pop_back();  // no "y" confirms a busy transfer
  const std::vector<switchtest::TableRun> runs = playFailures(
      {
          {"firewall-user.scn", IO_CONN_ERR, "connect", {}, "Firewall authentication required. User:"},
          {"start-busy-asks.scn", IO_CONN_ERR, "update", busy, "Transfer is in progress by another user"},
          {"download-prompt-back.scn", IO_UPDATE_ERR, "update", join({kLogin, kInventory, kCode}),
           "TFTP session refused by 10.0.0.9\n(Intel) transfer download>"},
      },
      kUrl);
  EXPECT_EQ(testsupport::capture_count("intelflash:update:" + runs[2].address +
                                       ": download failed: (Intel) transfer download> - returning "),
            1);
}

// Listings that go on and on: the inventory and the ping each stop after
// 300 lines, and the update goes on to its end.
TEST_F(IntelTable, EndlessListingsStopAfterTheirLines) {
  modburn::set_time_scale(0.05);
  std::string inventory, ping;
  for (int i = 0; i < 1000; ++i) {
    inventory += "Software Version............... 9.9." + std::to_string(i) + "\\r\\n";
    ping += "Send count=3, Receive count=3 from 10.0.0.9\\r\\n";
  }
  const std::string flood = "reply show inventory => \"\\r\\n" + inventory + "\\r\\n(Intel) >\"\n";
  const struct {
    std::string scenario;
    const char* stage;
    const char* line;  // the end of the listing
    const char* item;  // a line of it, logged per line listed
  } rows[] = {
      {"include login.inc\n" + flood + "include ping-ok.inc\ninclude setup.inc\ninclude download-ok.inc\n",
       "logConfigInfo", "inventory listing: no end after 300 lines\n", "Active FW Version: Software Version"},
      {"include login.inc\nexpect ping 10.0.0.9\nsend \"\\r\\nPinging 10.0.0.9 ...\\r\\n" + ping +
           "\\r\\n(Intel) >\"\ninclude setup.inc\ninclude download-ok.inc\n",
       "serverValid", "ping: no end after 300 lines\n", nullptr},
  };
  std::vector<switchtest::TableRow> plays;
  for (const auto& row : rows) plays.push_back({row.scenario, {.url = kUrl, .debugLevel = 2}});
  const auto start = std::chrono::steady_clock::now();
  const std::vector<switchtest::TableRun> runs = playAll(plays);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  for (std::size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE(rows[i].stage);
    expectSucceeded(runs[i], join({kLogin, kInventory, kCode, kExits}));
    const std::string head = std::string("intelflash:") + rows[i].stage + ":" + runs[i].address + ": ";
    EXPECT_EQ(testsupport::capture_count(head + rows[i].line), 1) << runs[i].o.log.substr(0, 3000);
    if (rows[i].item != nullptr) {
      EXPECT_EQ(testsupport::capture_count(head + rows[i].item), 300);
    }
  }
}

}  // namespace
