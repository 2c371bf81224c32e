// sasflash: SAS switch modules with two storage modules (SM1, SM2) behind
// the switch. The request's modifier picks what is updated: 1 the switch,
// 2 SM1, 3 SM2. Logs in at "MAIN>", records the firmware version of the
// target (entering and leaving the storage module's own console), types
// "fwdownload" or "fwstoragedownload" with the TFTP server and path,
// confirms it and follows the download. When the switch ends a download
// with "Please enter ANY key ..." and returns to its prompt, the attempt
// fails with IO_UPDATE_ERR and the frame starts another one. There is no
// reset.
#include <array>
#include <cstring>
#include <string_view>

#include "core/iostatus.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace modburn {
namespace {

constexpr auto exp_user1 = expect("exp_user1", "Login:", ".*Firewall.*");
constexpr auto exp_pw = expect("exp_pw", "Password:", "Login:");
constexpr auto exp_prompt = expect("exp_prompt", "MAIN>", "Login:");
constexpr auto exp_version = expect("exp_version", "MAIN>", "Firmware Version.*");
constexpr auto exp_target = expect("exp_target",
                                   "SM1>",                      // 0
                                   "SM2>",                      // 1
                                   "SM[12] is not installed.",  // 2
                                   "Unknown Target Module.*",   // 3
                                   "MAIN>");                    // 4
constexpr auto exp_stat = expect("exp_stat", "SM1>", "SM2>", "Firmware Revision:.*");
constexpr auto exp_start = expect("exp_start",
                                  "Do you want to start firmware download?.*",     // 0..2 confirmation
                                  "Do you want to start SM firmware download?.*",
                                  "Are you sure you.*to install this firmware?.*",
                                  "SM[12] is not installed.",                      // 3
                                  "TFTP Client is busy.*");                        // 4
// The switch prints its messages and its "ANY key" prompt without line
// ends between them, so several arrive as one line. The order makes the
// message that decides win: failures first (a failure line must not read as
// success or as a reason to try again), then success, then the "ANY key"
// ending (which must not be swallowed by the retry message in front of it,
// or it would go unanswered), then the retry messages and the progress.
constexpr auto exp_download = expect(
    "exp_download",
    "TFTP Client - No response from TFTP Server. TFTP Session terminated.",  // 0 server silent
    ".*File not found.*",                                                    // 1
    "Bad Firmware file!",                                                    // 2
    ".*Permission denied.*",                                                 // 3
    ".*Entire firmware image has been received successfully.",               // 4 success
    "Please enter ANY key to return to CLI command prompt",                  // 5 the attempt ends
    "SSP command aborted",                                                   // 6..9 retry messages
    "SM FW Download failed.*",
    "TFTP Client: Terminating.*",
    "FW Download failure",
    "Progress:.*",                                 // 10 erasing
    "Erasing completed.",                          // 11
    "Connection has established successfully.",    // 12
    ".*bytes received.*");                         // 13
constexpr int DL_FIRST_RETRY = 6;
constexpr int DL_LAST_RETRY = 9;
// "All data received" first: sharing a line with the prompt, it must not
// read as a switch back at its prompt and ready for another attempt.
constexpr auto exp_promptErr = expect("exp_promptErr", ".*All data received.*", "MAIN>");
constexpr auto exp_main = expect("exp_main", "MAIN>");
constexpr auto exp_final = expect("exp_final", ".*All data received.*");

// Seconds each wait may stay silent.
constexpr int LOGIN_SECS = 60;
constexpr int INFO_SECS = 10;
constexpr int START_SECS = 60;
constexpr int DOWNLOAD_SECS = 60;
constexpr int PROMPT_SECS = 30;
// Overall limits of the loops that go on while the switch keeps printing,
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

// What one run saw: whether the last attempt ended with the switch asking
// for another one.
struct SasState {
  bool retryAsked;
};

// A TFTP URL the switch can be told to fetch: the command carries no port,
// so only the TFTP port itself (69) may be named; every part is taken whole.
int urlRule(const char* fileurl) {
  UrlPieces u;
  if (u.read(fileurl) != URL_OK) return IO_INV_URL_SYNTAX;
  return tftp_parts_rule(u);
}

// The modifier names the target, and the target's command fits whole.
int lastRule(const SwitchRequest& req) {
  const char* format = commandFormat(req.modifier);
  if (format == nullptr) return IO_INV_MOD;
  UrlPieces u;
  if (u.read(req.fileurl) != URL_OK) return IO_INV_URL_SYNTAX;
  return fits(COMMAND_SIZE, format, u.server.data(), u.directory.data(), u.filename.data()) ? 0 : IO_INV_URL_SYNTAX;
}

int login(Stage& st) { return login_user_password(st, exp_user1, exp_pw, exp_prompt, LOGIN_SECS); }

void logSwitchVersion(Stage& st) {
  st.write("version\r");
  LoopLimit lim(st, "version listing", INFO_LIMIT_SECS);
  while (lim.check() == 0 && st.wait(exp_version, INFO_SECS, -1, 100) == 1) {
    st.log(0, "%s: %s\n", "Active FW Version", st.reply());
  }
}

// Enters the storage module's console: 1 once there, 0 when it could not be
// entered (the time-out already logged), or the IoStatus of a switch that
// answered with its main prompt.
int enterModule(Stage& st, int own) {
  st.write(own == 0 ? "target SM1\r" : "target SM2\r");
  bool notInstalled = false;
  LoopLimit lim(st, "target command", INFO_LIMIT_SECS);
  for (;;) {
    if (lim.check() != 0) return 0;
    const int rc = st.wait(exp_target, INFO_SECS, -1, 100);
    if (rc < 0) return 0;
    if (rc == own) return 1;
    if (rc == 2 || rc == 3) {
      st.log(0, "%s\n", st.reply());
      notInstalled = notInstalled || rc == 2;
    } else if (rc == 4) {
      // A module that is not installed fails the same way at every debug
      // level: the update would report it as missing hardware too.
      return notInstalled ? IO_NO_HARDWARE : IO_CONN_ERR;
    }
  }
}

void logModuleVersion(Stage& st, int own) {
  st.write("stat\r");
  const char* label = own == 0 ? "Active DSS1 FW Version" : "Active DSS2 FW Version";
  LoopLimit lim(st, "stat listing", INFO_LIMIT_SECS);
  for (;;) {
    if (lim.check() != 0) return;
    const int rc = st.wait(exp_stat, INFO_SECS, -1, 100);
    if (rc < 0 || rc == own) return;
    if (rc == 2) st.log(0, "%s: %s\n", label, st.reply());
  }
}

int logConfigInfo(Stage& st) {
  const int modifier = st.run.req.modifier;
  if (modifier == 1) {
    logSwitchVersion(st);
    return 0;
  }
  const int own = modifier == 2 ? 0 : 1;  // the index of the module's own prompt
  const int entered = enterModule(st, own);
  if (entered < 0) return entered;
  if (entered == 1) logModuleVersion(st, own);
  st.write("target main\r");
  st.wait(exp_target, INFO_SECS, -1, 100);
  return 0;
}

int downloadError(Stage& st, int code) {
  st.log(0, "Error! %s\n", st.shown(st.reply()));
  st.write("exit\r");
  return code;
}

// The switch ended the attempt and waits for a key: answered, then the
// attempt fails. Another one is wanted once the switch is back at its
// prompt; one that received all data but does not come back is left alone.
int attemptEnded(Stage& st) {
  st.log(0, "SPECIAL (RETRY) ERROR! %s\n", st.shown(st.reply()));
  int rc = st.exchange(exp_promptErr, "y\r", PROMPT_SECS, 1);
  if (rc < 0) return rc;
  if (rc == 0 && std::strstr(st.reply(), "MAIN>") == nullptr) {
    st.log(1, "all data received, waiting for the prompt\n");
    rc = st.wait(exp_main, PROMPT_SECS, 0);
    if (rc < 0) return rc;
  }
  st.run.state<SasState>().retryAsked = true;
  return IO_UPDATE_ERR;
}

// Follows the download: 0 once the whole image is received, or the failure.
int followDownload(Stage& st) {
  LoopLimit lim(st, "download", DOWNLOAD_LIMIT_SECS);
  for (;;) {
    if (const int rc = lim.check(); rc != 0) return rc;
    const int rc = st.wait(exp_download, DOWNLOAD_SECS);
    if (rc < 0) return rc;
    if (rc >= DL_FIRST_RETRY && rc <= DL_LAST_RETRY) {
      st.log(0, "SPECIAL (RETRY) ERROR: %s\n", st.shown(st.reply()));
      continue;
    }
    switch (rc) {
      case 0: return downloadError(st, IO_SERVER_NOT_FOUND);
      case 1: return downloadError(st, IO_FILE_NOT_FOUND);
      case 2: return downloadError(st, IO_BAD_FILE);
      case 3: return downloadError(st, IO_FILE_NOT_FOUND);
      case 4: return 0;
      case 5: return attemptEnded(st);
      case 10: st.log(2, "Erasing flash ROM - %s\n", st.shown(st.reply())); break;
      case 11: st.log(2, "Flash ROM erased.\n"); break;
      case 12: st.log(2, "TFTP Connection established.\n"); break;
      default: st.log(2, "Downloading file - %s\n", st.shown(st.reply())); break;  // 13
    }
  }
}

int update(Stage& st) {
  UrlPieces u;
  u.read(st.run.req.fileurl);  // the parameter check has judged the URL
  st.log(2, "fileurl=%s\n", u.shown.data());
  st.run.text.clear();
  st.run.state<SasState>().retryAsked = false;

  const char* format = commandFormat(st.run.req.modifier);
  if (format == nullptr) return IO_BAD_PARAMS;
  const char* cmd = st.cmdf(format, u.server.data(), u.directory.data(), u.filename.data());
  if (cmd != nullptr) st.log(1, "writing: \"%s\"\n", st.shown(cmd));

  const int rc = st.exchange(exp_start, cmd, START_SECS);
  if (rc < 0) return rc;
  if (rc == 3 || rc == 4) {
    st.log(0, "%s\n", st.shown(st.reply()));
    return rc == 3 ? IO_NO_HARDWARE : IO_BUSY_HARDWARE;
  }
  st.log(0, "Confirm download message: %s\n", st.shown(st.reply()));

  st.log(1, "have confirmation download prompt\n");
  st.log(1, "writing: \"%s\"\n", "y\\r\\n");
  if (const int w = st.write("y\r\n"); w < 0) {
    st.log(0, "telnet_write(\"%s\") failed rc=%d (%s)\n", "y\\r\\n", w, telnet_strerror(w));
    return IO_CONN_ERR;
  }

  if (const int d = followDownload(st); d != 0) return d;
  st.log(1, "Firmware image installed.\n");
  if (const int f = st.wait(exp_final, DOWNLOAD_SECS); f < 0) return f;
  st.log(1, "transfer download succeeded, got prompt\n");
  st.log(0, "Update succeeded %s\n", u.shown.data());
  st.log(2, "return SUCCESS\n");
  return 0;
}

// Only an attempt that the switch itself ended and asked to repeat is tried
// again; any other IO_UPDATE_ERR (a failed wait) ends the update.
bool retryWanted(Run& run) { return run.hasState() && run.state<SasState>().retryAsked; }

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
    .retryWanted = retryWanted,
};

}  // namespace
}  // namespace modburn

int sasflash(const SwitchRequest* req, char* errText, int errTextSize) {
  return modburn::run_module(modburn::kSas, req, errText, errTextSize);
}
