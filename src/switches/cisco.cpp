// ciscoflash: Cisco Ethernet switch modules running IOS. Logs in through the
// user and privileged levels, logs the running version, installs the image
// with "archive download-sw /overwrite" (the switch fetches it from the FTP,
// TFTP or RCP URL), saves the configuration and resets with "reload".
#include <array>

#include "core/iostatus.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace modburn {
namespace {

constexpr auto exp_user1 = expect("exp_user1",  // the switch's first words
                                  "Username", ".*>", ".*Firewall.*", "Password:.*");
constexpr auto exp_user2 = expect("exp_user2", "Username", "Password:.*");  // after "enable" before login
constexpr auto exp_pw = expect("exp_pw", "Password", "invalid");
constexpr auto exp_prompt_login = expect("exp_prompt", ".*#", ".*>", "invalid", "Password:.*");
constexpr auto exp_user3 = expect("exp_user3", ".*#", ".*>", "Password:.*");  // after "enable" once logged in
constexpr auto exp_version = expect("exp_version", ".*#", ".*CIGESM Software.*", ".*System image file.*",
                                    "--More--");
constexpr auto exp_image = expect("exp_image",
                                  "image installed",           // 0 installed
                                  ".*images installed.*",      // 1 installed
                                  "Loading .*",                // 2 the transfer has begun
                                  "!",                         // 3 progress
                                  "extracting .*",             // 4 progress
                                  "Unable.*",                  // 5 failed
                                  "Extracting files",          // 6 progress
                                  "Installing.*",              // 7 progress
                                  ".*\\(Invalid.*hostname\\)", // 8 no such server
                                  ".*\\(Protocol error\\)",    // 9 server refused
                                  ".*\\(Timed out\\)",         // 10 transfer failed
                                  ".*\\(No such file.*\\)",    // 11 transfer failed
                                  ".*\\(No such user\\)",      // 12 server login refused
                                  "%.*",                       // 13 an IOS message
                                  "ERROR:.*");                 // 14 failed
constexpr auto exp_prompt_update = expect("exp_prompt", ".*#", ".*>", "invalid");
constexpr auto exp_confirm = expect("exp_confirm", "confirm");

constexpr const char* kArchive = "archive download-sw /overwrite %s\r\n";
constexpr std::size_t kArchiveSize = 200;

// The scheme in lower case, and the archive command with the whole URL fits.
int urlRule(const char* fileurl) {
  if (const int rc = url_scheme_lower_case(fileurl); rc != 0) return rc;
  return fits(kArchiveSize, kArchive, fileurl) ? 0 : IO_INV_URL_SYNTAX;
}

// Transfer time-outs: an FTP download may take much longer than TFTP or RCP.
constexpr int FTP_TRANSFER_SECS = 1800;
constexpr int OTHER_TRANSFER_SECS = 900;
// The whole transfer and install, while the switch keeps printing, may last
// four of its silence time-outs.
constexpr int TRANSFER_LIMIT_FACTOR = 4;

int gotInvalid(Stage& st) {
  st.log(0, "exp_prompt: got Invalid: \"%s\"\n", st.reply());
  return IO_BAD_SWITCH_LOGIN;
}

int enableRefused(Stage& st) {
  st.log(0, "exp_prompt: enable command did not work: \"%s\"\n", st.reply());
  return IO_BAD_SWITCH_LOGIN;
}

// Ends at the privileged prompt ("#"); a switch that never grants it refuses the login.
int login(Stage& st) {
  const SwitchRequest& req = st.run.req;
  int rc = st.wait(exp_user1, 10);
  if (rc < 0) return rc;
  if (rc == 2) {
    st.log(0, "PROBABLE FIREWALL INTERCEPT - NEED TO AUTHENTICATE\n");
    return IO_CONN_ERR;
  }
  bool askedForUser = rc == 0;
  if (rc == 1) {  // a user prompt before any login: enable first, then answer what it asks
    rc = st.exchange(exp_user2, "enable\r\n", 10);
    if (rc < 0) return rc;
    askedForUser = rc == 0;
  }
  if (askedForUser) {
    st.log(1, "have Username prompt\n");
    rc = st.exchange(exp_pw, st.cmdf("%s\r\n", req.user), 10, 0);
    if (rc < 0) return rc;
    if (rc == 1) return IO_CONN_ERR;
  }

  st.log(1, "have Password prompt\n");
  rc = st.exchange(exp_prompt_login, st.cmdf("%s\r\n", req.password), 10);
  if (rc < 0) return rc;
  if (rc == 0) return 0;
  if (rc >= 2) return gotInvalid(st);

  rc = st.exchange(exp_user3, "enable\r\n", 10);  // at the user prompt: ask for privilege
  if (rc < 0) return rc;
  if (rc == 0) return 0;
  if (rc == 1) return enableRefused(st);

  rc = st.exchange(exp_prompt_login, st.cmdf("%s\r\n", req.password), 10);  // the enable password
  if (rc < 0) return rc;
  if (rc == 0) return 0;
  if (rc == 1) return enableRefused(st);
  return gotInvalid(st);
}

int logConfigInfo(Stage& st) {
  const char* cmd = "show version\r";
  for (;;) {
    const int rc = cmd != nullptr ? st.exchange(exp_version, cmd, 10, -1, 100) : st.wait(exp_version, 10, -1, 100);
    cmd = nullptr;
    switch (rc) {
      case 1: st.log(0, "%s: %s\n", "Active FW Version", st.reply()); break;
      case 2: st.log(0, "%s: %s\n", "Flash Partition Version", st.reply()); break;
      case 3: cmd = " "; break;  // the pager: page on
      default: return 0;         // the prompt, or a failure already logged
    }
  }
}

// Ends the switch's archive operation and fails with code.
int stopArchive(Stage& st, int code) {
  st.write("exit\r");
  return code;
}

// Follows the archive command until the image is installed.
int transfer(Stage& st, int timeoutSecs) {
  int loading = 0;  // "Loading" lines seen: a failure after one is a bad file, not a missing one
  LoopLimit limit(st, "archive download", TRANSFER_LIMIT_FACTOR * timeoutSecs);
  for (;;) {
    if (const int rc = limit.check(); rc != 0) return stopArchive(st, rc);
    const int rc = st.wait(exp_image, timeoutSecs);
    switch (rc) {
      case 0:
      case 1: return 0;
      case 2:
        ++loading;
        st.log(2, "%s\n", st.shown(st.reply()));
        break;
      case 3:
      case 4: break;
      case 5:
        st.log(0, "Error! %s\n", st.shown(st.reply()));
        return stopArchive(st, IO_UPDATE_ERR);
      case 6: st.log(2, "Extracting files\n"); break;
      case 7: st.log(2, "Installing update\n"); break;
      case 8:
      case 9:
        st.log(0, "%s\n", st.shown(st.reply()));
        return stopArchive(st, IO_SERVER_NOT_FOUND);
      case 10:
      case 11:
        st.log(0, "%s\n", st.shown(st.reply()));
        return stopArchive(st, loading == 0 ? IO_FILE_NOT_FOUND : IO_BAD_FILE);
      case 12:
        st.log(0, "%s\n", st.shown(st.reply()));
        return stopArchive(st, IO_BAD_SERV_LOGIN);
      case 13: st.log(0, "%s\n", st.shown(st.reply())); break;
      case 14:
        st.log(0, "%s\n", st.shown(st.reply()));
        st.log(0, "writing \"exit\\r\"\n");
        return stopArchive(st, IO_FILE_NOT_FOUND);
      default: return rc;  // failure, time-out included
    }
  }
}

// Types cmd (or, when null, only waits) and waits for the privileged prompt:
// 0, the failure, or IO_CONN_ERR for another prompt.
int awaitPrompt(Stage& st, const char* cmd) {
  const int rc = cmd != nullptr ? st.exchange(exp_prompt_update, cmd, 10, 0) : st.wait(exp_prompt_update, 10, 0);
  if (rc < 0) return rc;
  return rc == 0 ? 0 : IO_CONN_ERR;
}

int update(Stage& st) {
  const char* fileurl = st.run.req.fileurl;
  std::array<char, 1000> shownUrl{};
  url_mask_password(fileurl, shownUrl.data(), shownUrl.size());
  st.log(2, "fileurl=%s\n", shownUrl.data());
  st.run.text.clear();
  const int timeoutSecs = url_scheme_type(fileurl) == URL_SCHEME_FTP ? FTP_TRANSFER_SECS : OTHER_TRANSFER_SECS;

  std::array<char, 200> shownCommand{};
  format_cut(shownCommand.data(), shownCommand.size(), kArchive, shownUrl.data());
  st.log(1, "writing: \"%s\"\n", st.shown(shownCommand.data()));
  if (const int w = st.write(st.cmdf(kArchive, fileurl)); w < 0) {
    st.log(0, "telnet_write(\"%s\") failed rc=%d (%s)\n", st.shown(shownCommand.data()), w, telnet_strerror(w));
    return IO_CONN_ERR;
  }

  if (const int rc = transfer(st, timeoutSecs); rc != 0) return rc;
  st.log(1, "Firmware image installed.\n");
  if (const int rc = awaitPrompt(st, nullptr); rc != 0) return rc;
  st.log(1, "archive command succeeded, got prompt\n");
  st.log(1, "writing: \"write memory\"\n");
  if (const int rc = awaitPrompt(st, "write memory\r\n"); rc != 0) return rc;
  st.log(1, "write memory succeeded, got prompt\n");
  st.log(0, "Update succeeded %s\n", shownUrl.data());
  st.log(2, "return SUCCESS\n");
  return 0;
}

int reboot(Stage& st) {
  st.log(1, "Resetting/rebooting switch\n");
  const int rc = st.exchange(exp_confirm, "reload\r\n", 10, 0);
  if (rc < 0) {
    st.log(0, "%s\n", "Reboot could not be verified");
    return rc;
  }
  st.write("\r");  // confirms the reload
  st.log(2, "return SUCCESS\n");
  return 0;
}

constexpr Family kCisco = {
    .module = "ciscoflash",
    .display = "Cisco",
    .target = "Cisco switch",
    .params = {.schemes = URL_SCHEME_FTP | URL_SCHEME_TFTP | URL_SCHEME_RCP, .urlRule = urlRule},
    .login = login,
    .logConfigInfo = logConfigInfo,
    .update = update,
    .reboot = reboot,
};

}  // namespace
}  // namespace modburn

int ciscoflash(const SwitchRequest* req, char* errText, int errTextSize) {
  return modburn::run_module(modburn::kCisco, req, errText, errTextSize);
}
