// intelflash: Intel switch modules with nested console modes. Logs in,
// records the inventory, makes the switch ping the TFTP server (so that a
// failed transfer can tell a missing file from a silent server), sets up the
// transfer in "transfer download" mode one command at a time and starts it.
// Microcontroller code (a ".hex" file) powers the switch down when it is
// loaded: the update then ends as IO_SUCCESS_STOP, with no reset. A reset,
// when asked for, saves unsaved changes first.
#include <array>
#include <cstring>
#include <string_view>

#include "core/iostatus.h"
#include "core/log.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace modburn {
namespace {

constexpr auto exp_user1 = expect("exp_user1", "User:", ".*Firewall.*");
constexpr auto exp_pw = expect("exp_pw", "Password:", "User:");
constexpr auto exp_prompt = expect("exp_prompt", "\\(.*\\) >", "User:");
constexpr auto exp_inventory = expect("exp_inventory", "\\(.*\\) >", "System Description.*", "Software Version.*");
constexpr auto exp_ping = expect("exp_ping",
                                 ".* Receive count=3 .*",  // 0 the server answered
                                 ".* Receive count=0 .*",  // 1 the server is silent
                                 "Incorrect input",        // 2 the switch refused the ping
                                 "\\(.*\\) >");            // 3 the prompt
// The refusal stands before the prompt: a switch that prints its prompt
// right behind "Incorrect input! ..." would otherwise read as having taken
// the command.
constexpr auto exp_trdl = expect("exp_trdl", "Incorrect input! .*", "\\(.*\\) transfer download>");
constexpr int TRDL_REFUSED = 0;
constexpr int TRDL_PROMPT = 1;
constexpr auto exp_start = expect("exp_start", "Are you sure you want to start?", "Transfer .* by another user");
// Failures first, then the two endings, then progress: the switch prints its
// progress messages without a line end, so "Verifying CRC of file...File
// failed CRC check" is one line, and a progress pattern placed first would
// swallow the result. The microcontroller ending stands before the general
// one, which its own message ("... completed successfully") also matches.
constexpr auto exp_download = expect("exp_download",
                                     "File failed CRC check",          // 0 bad image
                                     "8051 MCU code transfer failed",  // 1 transfer failed
                                     "File transfer failed",           // 2 transfer failed
                                     "Error:.*",                       // 3 failed
                                     "TFTP MCU code download .*",      // 4 microcontroller code loaded
                                     ".*completed successfully",       // 5 image loaded
                                     "TFTP code transfer starting",    // 6..8 progress
                                     "Verifying CRC of file",
                                     "TFTP receive complete.*");
constexpr auto exp_trans = expect("exp_trans", "\\(.*\\) transfer>");
constexpr auto exp_main = expect("exp_main", "\\(.*\\) >");
// The restart first, then the question, then the two statements: when two
// of them share a line, the one that needs an action must win.
constexpr auto exp_changes = expect("exp_changes",
                                    "System will now restart",  // 0 done
                                    ".*save them now.*",        // 1 answered "y"
                                    ".*unsaved changes",        // 2 statement
                                    "Configuration Saved");     // 3 statement

// Seconds each wait may stay silent.
constexpr int STEP_SECS = 10;
constexpr int PING_SECS = 5;
constexpr int DOWNLOAD_SECS = 100;
// Overall limits of the loops that go on while the switch keeps printing,
// well above what a real switch needs: an inventory listing and a reset take
// seconds, a ping of three packets a few seconds, a TFTP transfer of an
// image some minutes.
constexpr int INVENTORY_LIMIT_SECS = 120;
constexpr int PING_LIMIT_SECS = 60;
constexpr int DOWNLOAD_LIMIT_SECS = 3600;
constexpr int RESET_LIMIT_SECS = 120;
// The save question is answered at most this often.
constexpr int SAVE_ANSWERS = 3;

// The URL parts the commands carry are typed whole, within the limits of tftp_parts_rule.
// Room for the longest of them: "path " + 199 + "/\r".
constexpr std::size_t COMMAND_SIZE = 256;

constexpr const char* kPing = "ping %s\r";
constexpr const char* kServerip = "serverip %s\r";
constexpr const char* kDatatype = "datatype %s\r";
constexpr const char* kPath = "path %s/\r";
constexpr const char* kPathRoot = "path /\r";
constexpr const char* kFilename = "filename %s\r";

// A TFTP URL the switch can be told to fetch: the console commands carry no
// port, so only the TFTP port itself (69) may be named; every part must be
// taken whole and every command built from them must fit.
int urlRule(const char* fileurl) {
  UrlPieces u;
  if (u.read(fileurl) != URL_OK) return IO_INV_URL_SYNTAX;
  if (const int rc = tftp_parts_rule(u); rc != 0) return rc;
  const bool fit = fits(COMMAND_SIZE, kPing, u.server.data()) && fits(COMMAND_SIZE, kServerip, u.server.data()) &&
                   fits(COMMAND_SIZE, kPath, u.directory.data()) && fits(COMMAND_SIZE, kFilename, u.filename.data());
  return fit ? 0 : IO_INV_URL_SYNTAX;
}

int login(Stage& st) { return login_user_password(st, exp_user1, exp_pw, exp_prompt, STEP_SECS); }

int logConfigInfo(Stage& st) {
  st.write("show inventory\r");
  LoopLimit lim(st, "inventory listing", INVENTORY_LIMIT_SECS);
  for (;;) {
    if (lim.check() != 0) return 0;
    const int rc = st.wait(exp_inventory, STEP_SECS, -1, 100);
    if (rc == 1) {
      st.log(0, "%s: %s\n", "Switch Description", st.reply());
    } else if (rc == 2) {
      st.log(0, "%s: %s\n", "Active FW Version", st.reply());
    } else {
      return 0;  // the prompt, or a failure already logged
    }
  }
}

// Makes the switch ping server: true when it counted three answers (the
// last count before the prompt decides). The ping's words stay out of the
// switch text.
bool serverValid(Run& run, const char* server) {
  Stage st(run, "serverValid", run.req.targetip, run.req.targetip, 0);
  st.write(st.cmdn(COMMAND_SIZE, kPing, server));
  bool answered = false;
  bool seen = false;
  LoopLimit lim(st, "ping", PING_LIMIT_SECS);
  for (;;) {
    if (lim.check() != 0) return false;
    const int rc = st.quietWait(exp_ping, PING_SECS, -1, 200);
    if (rc < 0) return false;
    if (rc == 3) {
      if (seen) return answered;
      continue;  // a prompt before any count is not the ping's
    }
    answered = rc == 0;
    seen = true;
  }
}

struct TransferStep {
  const char* what;  // its failure line: "<what> command failed: ..."
  int refused;       // the code when the switch refuses it
};

// Types one transfer set-up command and waits for the transfer-download
// prompt: 0, or the code of a refusal or a failed exchange.
int transferCommand(Stage& st, const char* cmd, const TransferStep& step) {
  const int rc = st.exchange(exp_trdl, cmd, STEP_SECS, TRDL_PROMPT);
  if (rc < 0) return rc;
  if (rc == TRDL_REFUSED) {
    st.log(0, "%s command failed: %s\n", step.what, st.reply());
    return step.refused;
  }
  return 0;
}

// Sets up the transfer: server, data type, path and file name.
int setUpTransfer(Stage& st, const UrlPieces& u) {
  st.log(1, "writing \"transfer download\"\n");
  if (const int rc = transferCommand(st, "transfer download\r", {"Transfer download", IO_UPDATE_ERR}); rc != 0) {
    return rc;
  }
  st.log(1, "writing serverip: %s\n", u.server.data());
  if (const int rc = transferCommand(st, st.cmdn(COMMAND_SIZE, kServerip, u.server.data()),
                                     {"serverip", IO_SERVER_NOT_FOUND});
      rc != 0) {
    return rc;
  }
  // Microcontroller code is recognised by its name, as written.
  const bool mcu = std::strstr(u.filename.data(), ".hex") != nullptr;
  const char* cmd = st.cmdn(COMMAND_SIZE, kDatatype, mcu ? "8051-mcu-code" : "code");
  st.log(1, "writing: %s\n", st.shown(cmd));
  if (const int rc = transferCommand(st, cmd, {"datatype", IO_UPDATE_ERR}); rc != 0) return rc;

  cmd = u.directory[0] == '\0' ? kPathRoot : st.cmdn(COMMAND_SIZE, kPath, u.directory.data());
  st.log(1, "writing: %s\n", st.shown(cmd));
  if (const int rc = transferCommand(st, cmd, {"path", IO_UPDATE_ERR}); rc != 0) return rc;

  cmd = st.cmdn(COMMAND_SIZE, kFilename, u.filename.data());
  st.log(1, "writing: %s\n", st.shown(cmd));
  return transferCommand(st, cmd, {"filename", IO_UPDATE_ERR});
}

int downloadFailed(Stage& st, int code) {
  st.log(0, "download failed: %s - returning %s\n", st.reply(), err2String(code));
  return code;
}

// Follows the transfer: 0 when the image is loaded, IO_SUCCESS_STOP when
// microcontroller code is, or the failure.
int followDownload(Stage& st, const UrlPieces& u, bool serverAnswered) {
  const int notLoaded = serverAnswered ? IO_FILE_NOT_FOUND : IO_SERVER_NOT_FOUND;
  LoopLimit lim(st, "download", DOWNLOAD_LIMIT_SECS);
  for (;;) {
    if (const int rc = lim.check(); rc != 0) return rc;
    const int rc = st.wait(exp_download, DOWNLOAD_SECS);
    switch (rc) {
      case 0: return downloadFailed(st, IO_BAD_FILE);
      case 1:
      case 2: return downloadFailed(st, notLoaded);
      case 3: return downloadFailed(st, IO_UPDATE_ERR);
      case 4:
        st.log(0, "MCU Update succeeded %s\n", u.shown.data());
        st.log(2, "return SUCCESS_STOP\n");
        return IO_SUCCESS_STOP;
      case 5: return 0;
      case 6:
      case 7:
      case 8: st.log(2, "downloading: %s\n", st.reply()); break;
      default: return rc;  // failure, time-out included
    }
  }
}

int update(Stage& st) {
  UrlPieces u;
  u.read(st.run.req.fileurl);  // the parameter check has judged the URL
  st.log(2, "fileurl=%s\n", u.shown.data());
  st.run.text.clear();

  const bool serverAnswered = serverValid(st.run, u.server.data());
  if (const int rc = setUpTransfer(st, u); rc != 0) return rc;

  int rc = st.exchange(exp_start, "start\r", STEP_SECS);
  if (rc < 0) return rc;
  if (rc == 1) return IO_CONN_ERR;  // another user holds the transfer
  st.write("y");

  rc = followDownload(st, u, serverAnswered);
  if (rc != 0) return rc;  // a failure, or microcontroller code: the switch is down, no mode to leave

  if (rc = st.exchange(exp_trans, "exit\r", STEP_SECS); rc < 0) return rc;
  if (rc = st.exchange(exp_main, "exit\r", STEP_SECS); rc < 0) return rc;
  st.log(1, "transfer download succeeded, got prompt\n");
  st.log(0, "Update succeeded %s\n", u.shown.data());
  st.log(2, "return SUCCESS\n");
  return 0;
}

int resetUnverified(Stage& st, int code) {
  st.log(0, "%s\n", "Reset could not be verified");
  return code;
}

int reboot(Stage& st) {
  st.log(1, "Resetting/rebooting switch\n");
  st.write("reset system\r");
  LoopLimit lim(st, "reset", RESET_LIMIT_SECS);
  AnswerLimit save(st, "save question", SAVE_ANSWERS, IO_TIMEOUT);
  for (;;) {
    if (const int rc = lim.check(); rc != 0) return resetUnverified(st, rc);
    const int rc = st.wait(exp_changes, STEP_SECS);
    if (rc < 0) return resetUnverified(st, rc);
    st.log(2, "%s\n", st.reply());
    if (rc == 0) {
      st.log(2, "return SUCCESS\n");
      return 0;
    }
    if (rc == 1) {
      if (const int q = save.next(); q != 0) return resetUnverified(st, q);
      st.write("y");
    }
  }
}

// The switch powers itself down once microcontroller code is loaded.
void announceStop(Run& run) {
  io_log("intelflash:%s: update success: STOP: switch powered down - needs manual restart\n", run.req.targetip);
}

constexpr Family kIntel = {
    .module = "intelflash",
    .display = "Intel",
    .target = "Intel switch",
    .params = {.schemes = URL_SCHEME_TFTP, .hostNameRefused = true, .plainTypedParts = true, .urlRule = urlRule},
    .login = login,
    .logConfigInfo = logConfigInfo,
    .update = update,
    .reboot = reboot,
    .afterStop = announceStop,
};

}  // namespace
}  // namespace modburn

int intelflash(const SwitchRequest* req, char* errText, int errTextSize) {
  return modburn::run_module(modburn::kIntel, req, errText, errTextSize);
}
