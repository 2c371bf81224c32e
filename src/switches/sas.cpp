// sasflash: SAS switch modules with two storage modules (SM1, SM2) behind
// the switch. The request's modifier picks what is updated: 1 the switch,
// 2 SM1, 3 SM2. Logs in at "MAIN>", records the firmware version of the
// target (entering and leaving the storage module's own console), types
// "fwdownload" or "fwstoragedownload" with the TFTP server and path,
// confirms it and follows the download. When the switch ends a download
// with "Please enter ANY key ..." and returns to its prompt, the attempt
// asks for another one, which the frame starts after a pause. There is no
// reset.
#include <cstring>

#include "core/iostatus.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace modburn {
namespace {

// Seconds each wait may stay silent.
constexpr int LOGIN_SECS = 60;
constexpr int INFO_SECS = 10;
constexpr int START_SECS = 60;
constexpr int DOWNLOAD_SECS = 60;
constexpr int PROMPT_SECS = 30;
// Overall limits of the follows that go on while the switch keeps printing,
// well above what a real switch needs: a version listing takes seconds, a
// TFTP download with its flash erase some minutes.
constexpr int INFO_LIMIT_SECS = 120;
constexpr int DOWNLOAD_LIMIT_SECS = 3600;

// The URL parts are typed whole, within the limits of tftp_parts_rule.
constexpr std::size_t COMMAND_SIZE = 200;

// The download command of each modifier (1 switch, 2 SM1, 3 SM2), or null.
const char* commandFormat(int modifier) {
  switch (modifier) {
    case 1: return "fwdownload %s %s/%s\r\n";
    case 2: return "fwstoragedownload %s %s/%s 1\r\n";
    case 3: return "fwstoragedownload %s %s/%s 2\r\n";
    default: return nullptr;
  }
}

// A TFTP URL the switch can be told to fetch: the command carries no port,
// so only the TFTP port itself (69) may be named; every part is taken whole.
int urlRule(const char* fileurl) {
  UrlPieces u;
  if (u.read(fileurl) != URL_OK) return IO_INV_URL_SYNTAX;
  return tftp_parts_rule(u);
}

// The modifier names the target, and the target's command fits whole (a
// versions request has no command).
int lastRule(const SwitchRequest& req) {
  const char* format = commandFormat(req.modifier);
  if (format == nullptr) return IO_INV_MOD;
  if (req.versions != nullptr) return 0;
  UrlPieces u;
  if (u.read(req.fileurl) != URL_OK) return IO_INV_URL_SYNTAX;
  return fits(COMMAND_SIZE, format, u.server.data(), u.directory.data(), u.filename.data()) ? 0 : IO_INV_URL_SYNTAX;
}

// Logs format with the matched line shown, then gives result: the lines
// that quote what the switch said.
template <const char* Format, int Result = kReadOn, int Level = 0>
int says(Stage& st) {
  st.log(Level, Format, st.shown(st.reply()));
  return Result;
}
constexpr char kSaid[] = "%s\n";

// --- Login -----------------------------------------------------------------------

// A firewall stands before the login prompt: its banner and its own
// "Login:" may share a line, and the switch's credentials must not be typed
// into it.
constexpr auto exp_user1 = table("exp_user1", firewall(), finish("Login:", 0));
constexpr auto exp_pw = table("exp_pw", finish("Password:", 0), finish("Login:", IO_CONN_ERR));
constexpr auto exp_prompt = table("exp_prompt", finish("MAIN>", 0),
                                  finish("Login:", IO_BAD_SWITCH_LOGIN).logs(0, "exp_prompt: got Invalid: \"%s\"\n"));
constexpr LoginStep kLogin[] = {
    {.rows = exp_user1, .silence = LOGIN_SECS, .reached = "have User prompt\n"},
    {.rows = exp_pw, .typed = Typed::User, .silence = LOGIN_SECS, .expected = 0, .reached = "have Password prompt\n"},
    {.rows = exp_prompt, .typed = Typed::Password, .silence = LOGIN_SECS},
};

int login(Stage& st) { return login_steps(st, kLogin); }

// --- Versions ----------------------------------------------------------------------

// A listing: typed, followed for a bounded number of lines and seconds.
Wait listing(const char* command, const char* name) {
  return {.type = command, .silence = INFO_SECS, .limit = INFO_LIMIT_SECS, .name = name, .lines = kListingLines, .keep = 100};
}

constexpr auto exp_version = table("exp_version", finish("MAIN>", 0), version("Firmware Version.*", "Active FW Version"));

// What entering a storage module's console showed.
struct Target {
  bool notInstalled = false;
  bool refused = false;  // the switch answered with its main prompt
};

int notInstalled(Stage&, Target& t) {
  t.notInstalled = true;
  return kReadOn;
}

// A module that is not installed fails the same way at every debug level:
// the update would report it as missing hardware too.
int backAtMain(Stage&, Target& t) {
  t.refused = true;
  return t.notInstalled ? IO_NO_HARDWARE : IO_CONN_ERR;
}

constexpr auto kTargetAnswers = rows(call<notInstalled>("SM[12] is not installed.").logs(0, "%s\n"),
                                     progress("Unknown Target Module.*").logs(0, "%s\n"),
                                     call<backAtMain>("MAIN>"));

// A storage module's console: the command that enters it, the answers to
// it (its own prompt ends them, the other module's is passed over) and its
// "stat" listing with the label of its version.
struct StorageModule {
  const char* target;
  TableRef enter;
  TableRef stat;
};

constexpr auto exp_target_sm1 = tableOf("exp_target", joined(rows(finish("SM1>", 0), progress("SM2>")), kTargetAnswers));
constexpr auto exp_target_sm2 = tableOf("exp_target", joined(rows(progress("SM1>"), finish("SM2>", 0)), kTargetAnswers));
constexpr auto exp_stat_sm1 = table("exp_stat", finish("SM1>", 0), progress("SM2>"),
                                    version("Firmware Revision:.*", "Active DSS1 FW Version"));
constexpr auto exp_stat_sm2 = table("exp_stat", progress("SM1>"), finish("SM2>", 0),
                                    version("Firmware Revision:.*", "Active DSS2 FW Version"));
constexpr StorageModule kModules[] = {
    {"target SM1\r", exp_target_sm1, exp_stat_sm1},
    {"target SM2\r", exp_target_sm2, exp_stat_sm2},
};
// Back to the main console: any of the answers ends the wait.
constexpr auto exp_target = table("exp_target", finish("SM1>", 0), finish("SM2>", 0),
                                  finish("SM[12] is not installed.", 0), finish("Unknown Target Module.*", 0),
                                  finish("MAIN>", 0));

// The target's version: the switch's own from "version", a storage
// module's from "stat" in its own console, left with "target main". Only a
// switch that answers a target command with its main prompt fails the connect.
int logConfigInfo(Stage& st) {
  const int modifier = st.run.req.modifier;
  if (modifier == 1) {
    st.follow(exp_version, listing("version\r", "version listing"));
    return 0;
  }
  const StorageModule& m = kModules[modifier == 2 ? 0 : 1];
  Target t;
  const int entered = st.follow(m.enter, listing(m.target, "target command"), t);
  if (t.refused) return entered;
  if (entered == 0) st.follow(m.stat, listing("stat\r", "stat listing"));
  st.follow(exp_target, {.type = "target main\r", .silence = INFO_SECS, .keep = 100});
  return 0;
}

// --- Update ------------------------------------------------------------------------

// The refusals stand before the confirmation questions: a line that says
// the module is missing or the TFTP client busy must not be confirmed.
constexpr auto exp_start = table("exp_start",
                                 call<says<kSaid, IO_NO_HARDWARE>>("SM[12] is not installed."),
                                 call<says<kSaid, IO_BUSY_HARDWARE>>("TFTP Client is busy.*"),
                                 finish("Do you want to start firmware download?.*", 0),
                                 finish("Do you want to start SM firmware download?.*", 0),
                                 finish("Are you sure you.*to install this firmware?.*", 0));

// The attempt ended and the switch waits for a key: answered, another
// attempt is wanted once the switch is back at its prompt. One that
// received all data but does not come back is left alone.
constexpr auto exp_main = table("exp_main", finish("MAIN>", kAnotherAttempt));
int allDataReceived(Stage& st) {
  if (std::strstr(st.reply(), "MAIN>") != nullptr) return kAnotherAttempt;
  st.log(1, "all data received, waiting for the prompt\n");
  return st.follow(exp_main, {.silence = PROMPT_SECS, .expected = 0});
}
// "All data received" first: sharing a line with the prompt, it must not
// read as a switch back at its prompt and ready for another attempt.
constexpr auto exp_promptErr =
    table("exp_promptErr", call<allDataReceived>(".*All data received.*"), finish("MAIN>", kAnotherAttempt));
int attemptEnded(Stage& st) {
  st.log(0, "SPECIAL (RETRY) ERROR! %s\n", st.shown(st.reply()));
  return st.follow(exp_promptErr, {.type = "y\r", .silence = PROMPT_SECS, .expected = 1});
}

// A download that failed for good: the switch is left with "exit"; a failed
// write is logged, and the download's own failure stays the result.
template <int Code>
int downloadError(Stage& st) {
  st.log(0, "Error! %s\n", st.shown(st.reply()));
  st.type("exit\r");
  return Code;
}

constexpr char kPromptBack[] = "Error! %s\n";
constexpr char kRetryLine[] = "SPECIAL (RETRY) ERROR: %s\n";
constexpr char kErasing[] = "Erasing flash ROM - %s\n";
constexpr char kDownloading[] = "Downloading file - %s\n";

// The switch prints its messages and its "ANY key" prompt without line
// ends between them, so several arrive as one line. The order makes the
// message that decides win: failures first (a failure line must not read as
// success or as a reason to try again), then success, then the "ANY key"
// ending (which must not be swallowed by the retry message in front of it,
// or it would go unanswered), then the main prompt back before any of them
// (a refusal the table does not know: nothing more will come), then the
// retry messages and the progress.
constexpr auto exp_download = table(
    "exp_download",
    call<downloadError<IO_SERVER_NOT_FOUND>>("TFTP Client - No response from TFTP Server. TFTP Session terminated."),
    call<downloadError<IO_FILE_NOT_FOUND>>(".*File not found.*"),
    call<downloadError<IO_BAD_FILE>>("Bad Firmware file!"),
    call<downloadError<IO_FILE_NOT_FOUND>>(".*Permission denied.*"),
    finish(".*Entire firmware image has been received successfully.", 0),
    call<attemptEnded>("Please enter ANY key to return to CLI command prompt"),
    call<says<kPromptBack, IO_UPDATE_ERR>>(".*MAIN>").unexplained(),
    call<says<kRetryLine>>("SSP command aborted"),
    call<says<kRetryLine>>("SM FW Download failed.*"),
    call<says<kRetryLine>>("TFTP Client: Terminating.*"),
    call<says<kRetryLine>>("FW Download failure"),
    call<says<kErasing, kReadOn, 2>>("Progress:.*").reports(Measure::Percent),
    progress("Erasing completed.").logs(2, "Flash ROM erased.\n"),
    progress("Connection has established successfully.").logs(2, "TFTP Connection established.\n"),
    call<says<kDownloading, kReadOn, 2>>(".*bytes received.*").reports(Measure::Bytes),
    otherLine());
constexpr auto exp_final = table("exp_final", finish(".*All data received.*", 0));

int update(Stage& st) {
  const UrlPieces& u = st.run.url;
  const char* format = commandFormat(st.run.req.modifier);
  if (format == nullptr) return IO_BAD_PARAMS;
  const char* cmd = st.cmdf(format, u.server.data(), u.directory.data(), u.filename.data());
  if (cmd != nullptr) st.log(1, "writing: \"%s\"\n", st.shown(cmd));
  if (const int rc = st.follow(exp_start, {.type = cmd, .silence = START_SECS}); rc != 0) return rc;
  st.log(0, "Confirm download message: %s\n", st.shown(st.reply()));

  st.log(1, "have confirmation download prompt\n");
  st.log(1, "writing: \"%s\"\n", "y\\r\\n");
  if (const int rc = st.type("y\r\n"); rc != 0) return rc;

  const Wait download = {.silence = DOWNLOAD_SECS, .limit = DOWNLOAD_LIMIT_SECS, .name = "download"};
  if (const int rc = st.follow(exp_download, download); rc != 0) return rc;
  st.log(1, "Firmware image installed.\n");
  if (const int rc = st.follow(exp_final, {.silence = DOWNLOAD_SECS}); rc != 0) return rc;
  st.log(1, "transfer download succeeded, got prompt\n");
  st.log(0, "Update succeeded %s\n", u.shown.data());
  st.log(2, "return SUCCESS\n");
  return 0;
}

constexpr Family kSas = {
    .module = "sasflash",
    .display = "SASSwitch",
    .target = "SAS switch",
    .params = {.schemes = URL_SCHEME_TFTP,
               .hostNameRefused = true,
               .plainTypedParts = true,
               .urlRule = urlRule,
               .lastRule = lastRule},
    .login = login,
    .logConfigInfo = logConfigInfo,
    .update = update,
    .updateAttempts = 6,
};

}  // namespace
}  // namespace modburn

int sasflash(const SwitchRequest* req, char* errText, int errTextSize) {
  return modburn::run_module(modburn::kSas, req, errText, errTextSize);
}
