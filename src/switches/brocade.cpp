// brocadeflash: Brocade Fibre Channel switches running Fabric OS. Logs in,
// records the firmware and boot PROM versions, runs the switch's own
// "firmwaredownload" in single mode from an FTP server, follows its messages
// to the end and resets the switch with "reboot" when asked.
#include <array>
#include <chrono>

#include "com/timescale.h"
#include "core/iostatus.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace modburn {
namespace {

constexpr auto exp_login = expect("exp_login", "login", ".*Firewall.*");
constexpr auto exp_pw = expect("exp_pw", "Password");
constexpr auto exp_prompt = expect("exp_prompt",
                                   ".*>",                   // 0 logged in
                                   ".*incorrect.*",         // 1 password refused
                                   "change your password"); // 2 asks for a new password
constexpr auto exp_prompt2 = expect("exp_prompt2", ".*>");
constexpr auto exp_version = expect("exp_version", ".*>", "Fabric OS:.*", "BootProm:.*");
constexpr auto exp_fwshow = expect("exp_fwshow", ".*>", "Primary [Pp]artition:.*", "Secondary [Pp]artition:.*");
constexpr auto exp_download = expect("exp_download",
                                     ".*install packages",         // 0 download started
                                     "Cannot download .*",         // 1 the file cannot be had
                                     "Another .* in progress",     // 2 busy
                                     ".*BadRootDev.*",             // 3 a warning only
                                     "ping: unknown host.*",       // 4 server unreachable
                                     "sendto: Invalid argument",   // 5 server unreachable
                                     "Firmwaredownload failed.*",  // 6 failed
                                     "Error: .*",                  // 7 failed
                                     ".*want to continue.*");      // 8 a question, answered "y"
// "Error:" stands before the catch-all progress patterns: placed after "any
// word" it could never win, and a failed install would only end after the
// completion time-out, as IO_TIMEOUT.
constexpr auto exp_dlcomp = expect("exp_dlcomp",
                                   "Firmwaredownload.*successfully",  // 0 success
                                   "Firmware has been downloaded.*",  // 1 success
                                   "Removing .* files.*",             // 2 clean-up begins
                                   "Please avoid.*",                  // 3..7 progress
                                   "Write .* flash",
                                   "\\.",        // a literal dot
                                   ".*SUCCEEDED",
                                   "^[\\s]*#+",  // a line of hash marks
                                   "Error:.*",    // 8 failed
                                   "[\\S-]+",    // 9, 10 progress: any word, a bare line end
                                   "\r");
constexpr auto exp_rmcomp = expect("exp_rmcomp", "Finished removing.*");
constexpr auto exp_boot = expect("exp_boot", "The system is going down .*");

// Overall limits of the loops that follow the switch while it keeps talking:
// the download's start (30 s waits, questions answered "y") and the install
// (150 s waits between its messages, a firmware install takes minutes).
constexpr int START_LIMIT_SECS = 600;
constexpr int INSTALL_LIMIT_SECS = 3600;
constexpr int MAX_CONFIRMATIONS = 10;

// Seconds of silence that end the drain of a failed session, and the longest
// the drain may last: a switch that keeps printing must not hold the call.
constexpr int CONSUME_SILENCE_SECS = 10;
constexpr auto CONSUME_LIMIT = std::chrono::seconds(60);

int login(Stage& st) {
  const SwitchRequest& req = st.run.req;
  int rc = st.wait(exp_login, 30);
  if (rc < 0) return rc;
  if (rc == 1) {
    st.log(0, "PROBABLE FIREWALL INTERCEPT - NEED TO AUTHENTICATE\n");
    return IO_CONN_ERR;
  }
  st.log(1, "have login prompt\n");

  rc = st.exchange(exp_pw, st.cmdf("%s\r\n", req.user), 10, 0);
  if (rc < 0) return rc;
  st.log(1, "have Password prompt\n");

  rc = st.exchange(exp_prompt, st.cmdf("%s\r\n", req.password), 10);
  if (rc < 0) return rc;
  if (rc == 1) {
    st.log(0, "exp_prompt: got Incorrect: \"%s\"\n", st.reply());
    return IO_BAD_SWITCH_LOGIN;
  }
  if (rc == 2) {  // refuse the password change with control-C
    rc = st.exchange(exp_prompt2, "\x03", 10, 0);
    if (rc < 0) return rc;
  }
  return 0;
}

// Logs the lines of one listing that match the labelled patterns, up to the prompt.
void logListing(Stage& st, ExpectRef exp, const char* label1, const char* label2) {
  for (;;) {
    const int rc = st.wait(exp, 10, -1, 100);
    if (rc != 1 && rc != 2) return;  // the prompt, or a failure already logged
    st.log(0, "%s: %s\n", rc == 1 ? label1 : label2, st.reply());
  }
}

int logConfigInfo(Stage& st) {
  st.write("version\r");
  logListing(st, exp_version, "Active FW Version", "Active Boot Version");
  st.write("firmwareshow\r");
  logListing(st, exp_fwshow, "Flash Partition Version", "Flash Partition Version");
  return 0;
}

int downloadFailed(Stage& st, int code) {
  st.log(0, "Error received doing firmwaredownload command: %s\n", st.reply());
  return code;
}

constexpr const char* kCommand = "firmwaredownload -s \"%s\",\"%s\",\"%s\",\"%s\"\r";
constexpr std::size_t kCommandSize = 200;

// The URL must carry a login, and the download command built from it must
// fit whole: IO_INV_URL_LOGIN when it is the login or password that is too
// long, IO_INV_URL_SYNTAX when it is the server or the path.
int urlRule(const char* fileurl) {
  if (const int rc = url_needs_login(fileurl); rc != 0) return rc;
  UrlPieces u;
  if (u.read(fileurl) != URL_OK) return IO_INV_URL_SYNTAX;
  if (fits(kCommandSize, kCommand, u.server.data(), u.login.data(), u.path.data(), u.password.data())) return 0;
  return fits(kCommandSize, kCommand, u.server.data(), "", u.path.data(), "") ? IO_INV_URL_LOGIN : IO_INV_URL_SYNTAX;
}

// Types the download command and waits until the switch starts installing.
int startDownload(Stage& st, const char* fileurl) {
  UrlPieces u;
  u.read(fileurl);  // the parameter check has judged the URL
  std::array<char, 100> stars{};
  std::array<char, 200> shownCommand{};
  maskPassword(u.password.data(), stars.data(), stars.size());
  format_cut(shownCommand.data(), shownCommand.size(), kCommand, u.server.data(), u.login.data(), u.path.data(),
             stars.data());
  st.log(1, "writing: \"%s\"\n", st.shown(shownCommand.data()));
  st.write(st.cmdf(kCommand, u.server.data(), u.login.data(), u.path.data(), u.password.data()));

  bool serverUnreachable = false;
  LoopLimit limit(st, "firmwaredownload start", START_LIMIT_SECS);
  AnswerLimit confirmations(st, "continue question", MAX_CONFIRMATIONS, IO_UPDATE_ERR);
  for (;;) {
    if (const int rc = limit.check(); rc != 0) return rc;
    const int rc = st.wait(exp_download, 30, 0);
    switch (rc) {
      case 0: return 0;
      case 1: return downloadFailed(st, IO_FILE_NOT_FOUND);
      case 2: return downloadFailed(st, IO_UPDATE_ERR);
      case 3: st.log(0, "WARNING: %s\n", st.reply()); break;
      case 4:
      case 5: serverUnreachable = true; break;
      case 6: return downloadFailed(st, serverUnreachable ? IO_SERVER_NOT_FOUND : IO_FILE_NOT_FOUND);
      case 7: return downloadFailed(st, IO_UPDATE_ERR);
      case 8:
        st.log(0, "Got: %s\n", st.reply());
        if (const int q = confirmations.next(); q != 0) return q;
        st.write("y\r");
        break;
      default: return rc;  // failure, time-out included
    }
  }
}

// Follows the install until the switch reports success.
int awaitCompletion(Stage& st) {
  LoopLimit limit(st, "firmware install", INSTALL_LIMIT_SECS);
  for (;;) {
    if (const int rc = limit.check(); rc != 0) return rc;
    const int rc = st.wait(exp_dlcomp, 150);
    if (rc < 0) return rc;
    if (rc == 0 || rc == 1) return 0;
    if (rc == 8) return downloadFailed(st, IO_UPDATE_ERR);
    if (rc == 2) {  // old files are removed first; success comes after
      st.log(1, "%s\n", st.reply());
      const int rm = st.wait(exp_rmcomp, 150, 0);
      if (rm < 0) return rm;
      st.log(1, "%s\n", st.reply());
    }
  }
}

int update(Stage& st) {
  const char* fileurl = st.run.req.fileurl;
  std::array<char, 1000> shownUrl{};
  url_mask_password(fileurl, shownUrl.data(), shownUrl.size());
  st.log(2, "fileurl=%s\n", shownUrl.data());
  st.run.text.clear();  // a failed update quotes only this dialogue

  if (const int rc = startDownload(st, fileurl); rc != 0) return rc;
  if (const int rc = awaitCompletion(st); rc != 0) return rc;
  st.log(1, "%s\n", st.reply());
  st.log(0, "update succeeded %s\n", shownUrl.data());
  st.log(2, "return SUCCESS\n");
  return 0;
}

int reboot(Stage& st) {
  st.log(1, "Resetting/rebooting switch\n");
  const int rc = st.exchange(exp_boot, "reboot\r", 30, 0);
  return rc < 0 ? rc : 0;
}

// Logs what the switch still prints after a failure, until it falls silent.
void consume(Run& run) {
  Stage st(run, "consume");
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::microseconds(scaled_micros(std::chrono::microseconds(CONSUME_LIMIT).count()));
  std::array<char, 256> line{};
  while (std::chrono::steady_clock::now() < deadline) {
    const int rc = telnet_readline(run.handle, line.data(), static_cast<int>(line.size()), 0,
                                   CONSUME_SILENCE_SECS, 0);
    if (rc == TELNET_TIMEOUT) return;
    if (rc < 0) {
      st.log(0, "got %s\n", line.data());
      return;
    }
    st.log(2, "got %s\n", line.data());
  }
}

constexpr Family kBrocade = {
    .module = "brocadeflash",
    .display = "Brocade",
    .target = "Brocade switch",
    .params = {.schemes = URL_SCHEME_FTP, .urlRule = urlRule},
    .login = login,
    .logConfigInfo = logConfigInfo,
    .update = update,
    .reboot = reboot,
    .beforeFailedClose = consume,
};

}  // namespace
}  // namespace modburn

int brocadeflash(const SwitchRequest* req, char* errText, int errTextSize) {
  return modburn::run_module(modburn::kBrocade, req, errText, errTextSize);
}
