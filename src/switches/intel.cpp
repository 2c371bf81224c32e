// intelflash: Intel switch modules with nested console modes. Logs in,
// records the inventory, makes the switch ping the TFTP server (so that a
// failed transfer can tell a missing file from a silent server), sets up the
// transfer in "transfer download" mode one command at a time and starts it.
// Microcontroller code (a ".hex" file) powers the switch down when it is
// loaded: the update then ends as IO_SUCCESS_STOP, with no reset. A reset,
// when asked for, saves unsaved changes first.
#include <array>
#include <cstring>

#include "core/iostatus.h"
#include "core/log.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace modburn {
namespace {

// Seconds each wait may stay silent.
constexpr int STEP_SECS = 10;
constexpr int PING_SECS = 5;
constexpr int DOWNLOAD_SECS = 100;
// Overall limits of the follows that go on while the switch keeps printing,
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

// The prompts of the main mode and of the transfer-download mode.
constexpr const char* kMainPrompt = "\\(.*\\) >";
constexpr const char* kDownloadPrompt = "\\(.*\\) transfer download>";

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

// --- Login -----------------------------------------------------------------------

// A firewall stands before the user prompt: its banner and its own "User:"
// may share a line, and the switch's credentials must not be typed into it.
constexpr auto exp_user1 = table("exp_user1", firewall(), finish("User:", 0));
constexpr auto exp_pw = table("exp_pw", finish("Password:", 0), finish("User:", IO_CONN_ERR));
constexpr auto exp_prompt = table("exp_prompt", finish(kMainPrompt, 0),
                                  finish("User:", IO_BAD_SWITCH_LOGIN).logs(0, "exp_prompt: got Invalid: \"%s\"\n"));
constexpr LoginStep kLogin[] = {
    {.rows = exp_user1, .silence = STEP_SECS, .reached = "have User prompt\n"},
    {.rows = exp_pw, .typed = Typed::User, .silence = STEP_SECS, .expected = 0, .reached = "have Password prompt\n"},
    {.rows = exp_prompt, .typed = Typed::Password, .silence = STEP_SECS},
};

int login(Stage& st) { return login_steps(st, kLogin); }

// --- Versions ----------------------------------------------------------------------

constexpr auto exp_inventory = table("exp_inventory", finish(kMainPrompt, 0),
                                     version("System Description.*", "Switch Description"),
                                     version("Software Version.*", "Active FW Version"));

// A listing that fails or runs out is logged and leaves the login as it is.
int logConfigInfo(Stage& st) {
  st.follow(exp_inventory, {.type = "show inventory\r",
                            .silence = STEP_SECS,
                            .limit = INVENTORY_LIMIT_SECS,
                            .name = "inventory listing",
                            .lines = kListingLines,
                            .keep = 100});
  return 0;
}

// --- The server's ping -------------------------------------------------------------

// What the ping reported so far: the last count before the prompt decides.
struct Ping {
  bool answered = false;
  bool seen = false;
};

int pingCounted(Ping& p, bool answered) {
  p.answered = answered;
  p.seen = true;
  return kReadOn;
}
int pingAnswered(Stage&, Ping& p) { return pingCounted(p, true); }
int pingSilent(Stage&, Ping& p) { return pingCounted(p, false); }
// A prompt before any count or refusal is not the ping's.
int pingEnded(Stage&, Ping& p) { return p.seen ? 0 : kReadOn; }

constexpr auto exp_ping = table("exp_ping",
                                call<pingAnswered>(".* Receive count=3 .*"),
                                call<pingSilent>(".* Receive count=0 .*"),
                                call<pingSilent>("Incorrect input"),  // the switch refused the ping
                                call<pingEnded>(kMainPrompt));

// Makes the switch ping server: true when it counted three answers. The
// ping's words stay out of the switch text, and a failed ping only makes
// the answer false.
bool serverValid(Run& run, const char* server) {
  Stage st(run, "serverValid", run.req.targetip, run.req.targetip, 0);
  Ping ping;
  const int rc = st.follow(exp_ping,
                           {.type = st.cmdn(COMMAND_SIZE, kPing, server),
                            .silence = PING_SECS,
                            .limit = PING_LIMIT_SECS,
                            .name = "ping",
                            .lines = kListingLines,
                            .keep = 200,
                            .quiet = true},
                           ping);
  return rc == 0 && ping.answered;
}

// --- The transfer ------------------------------------------------------------------

struct TransferStep {
  const char* what;  // its failure line: "<what> command failed: ..."
  int refused;       // the code when the switch refuses it
};

int commandRefused(Stage& st, TransferStep& step) {
  st.log(0, "%s command failed: %s\n", step.what, st.shown(st.reply()));
  return step.refused;
}

// The refusal stands before the prompt: a switch that prints its prompt
// right behind "Incorrect input! ..." would otherwise read as having taken
// the command.
constexpr auto exp_trdl =
    table("exp_trdl", call<commandRefused>("Incorrect input! .*"), finish(kDownloadPrompt, 0));
constexpr int TRDL_PROMPT = 1;

// Types one transfer set-up command and waits for the transfer-download
// prompt: 0, or the code of a refusal or a failed exchange.
int transferCommand(Stage& st, const char* cmd, TransferStep step) {
  return st.follow(exp_trdl, {.type = cmd, .silence = STEP_SECS, .expected = TRDL_PROMPT}, step);
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

// The start is confirmed with one "y", no line end. Another user's transfer
// stands first: a line that says so and asks as well must not be answered.
int confirmStart(Stage& st) { return st.type("y"); }
constexpr auto exp_start = table("exp_start", finish("Transfer .* by another user", IO_CONN_ERR),
                                 call<confirmStart>("Are you sure you want to start?"));

// The code a failed transfer ends with: the ping before it tells a missing
// file (the server answered) from a silent server.
struct Download {
  int notLoaded;
};

int downloadFailed(Stage& st, int code) {
  st.log(0, "download failed: %s - returning %s\n", st.shown(st.reply()), err2String(code));
  return code;
}
int badImage(Stage& st) { return downloadFailed(st, IO_BAD_FILE); }
int notLoaded(Stage& st, Download& d) { return downloadFailed(st, d.notLoaded); }
int failed(Stage& st) { return downloadFailed(st, IO_UPDATE_ERR); }

int mcuLoaded(Stage& st) {
  st.log(0, "MCU Update succeeded %s\n", st.run.url.shown.data());
  st.log(2, "return SUCCESS_STOP\n");
  return IO_SUCCESS_STOP;
}

// Failures first, then the two endings, then progress: the switch prints its
// progress messages without a line end, so "Verifying CRC of file...File
// failed CRC check" is one line, and a progress pattern placed first would
// swallow the result. The microcontroller ending stands before the general
// one, which its own message ("... completed successfully") also matches.
// The transfer-download prompt back before either ending is a refusal the
// table does not know: the transfer is over, and nothing more will come.
constexpr auto exp_download = table("exp_download",
                                    call<badImage>("File failed CRC check"),
                                    call<notLoaded>("8051 MCU code transfer failed"),
                                    call<notLoaded>("File transfer failed"),
                                    call<failed>("Error:.*"),
                                    call<mcuLoaded>("TFTP MCU code download .*"),
                                    finish(".*completed successfully", 0),
                                    call<failed>("Incorrect input! .*"),
                                    call<failed>(".*\\(.*\\) transfer download>").unexplained(),
                                    progress("TFTP code transfer starting").logs(2, "downloading: %s\n"),
                                    progress("Verifying CRC of file").logs(2, "downloading: %s\n"),
                                    progress("TFTP receive complete.*").logs(2, "downloading: %s\n"),
                                    otherLine());
constexpr auto exp_trans = table("exp_trans", finish("\\(.*\\) transfer>", 0));
constexpr auto exp_main = table("exp_main", finish(kMainPrompt, 0));

int update(Stage& st) {
  const UrlPieces& u = st.run.url;
  const bool serverAnswered = serverValid(st.run, u.server.data());
  if (const int rc = setUpTransfer(st, u); rc != 0) return rc;
  if (const int rc = st.follow(exp_start, {.type = "start\r", .silence = STEP_SECS}); rc != 0) return rc;

  Download d{serverAnswered ? IO_FILE_NOT_FOUND : IO_SERVER_NOT_FOUND};
  const int rc = st.follow(exp_download, {.silence = DOWNLOAD_SECS, .limit = DOWNLOAD_LIMIT_SECS, .name = "download"}, d);
  if (rc != 0) return rc;  // a failure, or microcontroller code: the switch is down, no mode to leave

  if (const int e = st.follow(exp_trans, {.type = "exit\r", .silence = STEP_SECS}); e != 0) return e;
  if (const int e = st.follow(exp_main, {.type = "exit\r", .silence = STEP_SECS}); e != 0) return e;
  st.log(1, "transfer download succeeded, got prompt\n");
  st.log(0, "Update succeeded %s\n", u.shown.data());
  st.log(2, "return SUCCESS\n");
  return 0;
}

// --- Reset ---------------------------------------------------------------------------

// The restart first, then the question, then the two statements: when two
// of them share a line, the one that needs an action must win.
constexpr auto exp_changes = table("exp_changes",
                                   finish("System will now restart", 0).logs(2, "%s\n"),
                                   answer(".*save them now.*", "y")
                                       .logs(2, "%s\n")
                                       .times(SAVE_ANSWERS, IO_TIMEOUT, "save question"),
                                   progress(".*unsaved changes").logs(2, "%s\n"),
                                   progress("Configuration Saved").logs(2, "%s\n"));

int reboot(Stage& st) {
  st.log(1, "Resetting/rebooting switch\n");
  const int rc = st.follow(exp_changes,
                           {.type = "reset system\r", .silence = STEP_SECS, .limit = RESET_LIMIT_SECS, .name = "reset"});
  if (rc != 0) {
    st.log(0, "%s\n", "Reset could not be verified");
    return rc;
  }
  st.log(2, "return SUCCESS\n");
  return 0;
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
