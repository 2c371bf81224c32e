// ibbridgeflash: InfiniBand bridge modules, whose command line shows the
// prompt "->". Logs in (stepping through the new-password screens of a
// first login without setting one), logs the product and firmware
// versions, runs the whole update as one "fwUpdate" command that names the
// FTP server, login and file, follows the bridge's progress messages until
// the prompt returns, and reboots with "reboot now" when asked.
//
// The prompt "->" follows every answer of the bridge, failures included,
// and also ends its login prompts "username->" and "password->": those two
// are recognised first, the failure messages next, and the prompt alone
// counts as a finished update only after the bridge reported progress.
#include <array>

#include "com/timescale.h"
#include "core/iostatus.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace modburn {
namespace {

constexpr auto exp_user = expect("exp_user", "username->", ".*system is engaged", ".*Firewall.*");
constexpr auto exp_pw = expect("exp_pw", "password->", "Invalid.*");

// The answers after the password, and those of the new-password screens.
enum LoginAnswer { ASK_USER, ASK_PASSWORD, INVALID, CONTROL_C_SCREEN, NEW_PASSWORD, CONFIRM, PROMPT, OTHER };
constexpr auto exp_prompt = expect("exp_prompt", "username->", "password->", "Invalid.*", "Use Control-C to exit",
                                   "\\(new\\) password:", "->");
constexpr std::array<LoginAnswer, 6> kPromptAnswers = {ASK_USER,         ASK_PASSWORD, INVALID,
                                                       CONTROL_C_SCREEN, NEW_PASSWORD, PROMPT};
constexpr auto exp_prompt2 = expect("exp_prompt2", "username->", "password->", "\\(new\\) password:",
                                    "confirm the new password:", "->");
constexpr std::array<LoginAnswer, 5> kPrompt2Answers = {ASK_USER, ASK_PASSWORD, NEW_PASSWORD, CONFIRM, PROMPT};
constexpr auto exp_prompt3 = expect("exp_prompt3", "username->", "password->", "confirm the new password:", "->");
constexpr std::array<LoginAnswer, 4> kPrompt3Answers = {ASK_USER, ASK_PASSWORD, CONFIRM, PROMPT};

constexpr auto exp_fruinfo = expect("exp_version", "->", "Product Name.*", "Firmware Version.*");
constexpr auto exp_fwversion = expect("exp_version", "->", "Bootrom Version:.*", "Firmware Version:.*");

constexpr auto exp_fwupdate = expect("exp_fwupdate",
                                     "username->",                        // 0 fell back to the login
                                     "password->",                        // 1 fell back to the login
                                     ".*cannot find the file.*",          // 2 no such file
                                     ".*not a package image file",        // 3 not an image
                                     "User .* cannot log in",             // 4 FTP login refused
                                     "FTP File transfer failed",          // 5 server not reached
                                     "Initiating firmware update",        // 6 started
                                     "md5 values",                        // 7 progress
                                     "Firmware update .* successfully",   // 8 progress
                                     "Flash write completed.*",           // 9 progress
                                     "Percent complete: [\\d]+",          // 10 progress, not logged
                                     "->");                               // 11 the prompt is back

constexpr int STEP_SECS = 10;
constexpr int PROGRESS_SECS = 60;
// Overall limits. The version listings are a few lines each; the update
// starts a new 60 s wait with every progress line and has no end of its own,
// so a bridge that kept printing would hold the call: two hours is far above
// any flash write.
constexpr int VERSION_LISTING_SECS = 60;
constexpr int UPDATE_SECS = 7200;
// The new-password screens are each answered once; a bridge that keeps
// asking is refused.
constexpr int SCREEN_ANSWERS = 4;

// Steps through the new-password screens from the answer seen (an index of
// exp with its meanings): "\r" at each question, done at the prompt.
template <std::size_t N>
int passScreens(Stage& st, ExpectRef exp, const std::array<LoginAnswer, N>& answers, int rc) {
  AnswerLimit again(st, "new password screen", SCREEN_ANSWERS, IO_BAD_SWITCH_LOGIN);
  for (;;) {
    if (rc < 0) return rc;
    switch (answers[static_cast<std::size_t>(rc)]) {
      case PROMPT: return 0;
      case NEW_PASSWORD:
      case CONFIRM:
        if (const int e = again.next()) return e;
        rc = st.exchange(exp, "\r", STEP_SECS);
        break;
      default:
        st.log(0, "%s: back at the login: \"%s\"\n", exp.name, st.reply());
        return IO_BAD_SWITCH_LOGIN;
    }
  }
}

int login(Stage& st) {
  const SwitchRequest& req = st.run.req;
  int rc = st.wait(exp_user, STEP_SECS);
  if (rc < 0) return rc;
  if (rc == 1) {
    st.log(0, "Switch Busy: %s\n", st.reply());
    return IO_CONN_ERR;
  }
  if (rc == 2) {
    st.log(0, "PROBABLE FIREWALL INTERCEPT - NEED TO AUTHENTICATE\n");
    return IO_CONN_ERR;
  }
  st.log(1, "have Username prompt\n");

  rc = st.exchange(exp_pw, st.cmdf("%s\r", req.user), STEP_SECS, 0);
  if (rc < 0) return rc;
  if (rc == 1) return IO_CONN_ERR;
  st.log(1, "have Password prompt\n");

  rc = st.exchange(exp_prompt, st.cmdf("%s\r", req.password), STEP_SECS);
  if (rc < 0) return rc;
  switch (kPromptAnswers[static_cast<std::size_t>(rc)]) {
    case PROMPT: return 0;
    case INVALID:
      st.log(0, "exp_prompt: got Invalid: \"%s\"\n", st.reply());
      return IO_BAD_SWITCH_LOGIN;
    case CONTROL_C_SCREEN:  // leave the password screen
      return passScreens(st, exp_prompt2, kPrompt2Answers, st.exchange(exp_prompt2, "\x03\r", STEP_SECS));
    case NEW_PASSWORD:  // skip the new password: an empty one and its empty confirmation
      return passScreens(st, exp_prompt3, kPrompt3Answers, st.exchange(exp_prompt3, "\r", STEP_SECS, 2));
    default:
      st.log(0, "exp_prompt: asked to log in again: \"%s\"\n", st.reply());
      return IO_BAD_SWITCH_LOGIN;
  }
}

void logListing(Stage& st, const char* cmd, ExpectRef exp, const char* label1, const char* label2) {
  st.write(cmd);
  LoopLimit lim(st, cmd, VERSION_LISTING_SECS);
  for (;;) {
    if (lim.check() != 0) return;
    const int rc = st.wait(exp, STEP_SECS, -1, 100);
    if (rc != 1 && rc != 2) return;  // the prompt, or a failure already logged
    st.log(0, "%s: %s\n", rc == 1 ? label1 : label2, st.reply());
  }
}

int logConfigInfo(Stage& st) {
  logListing(st, "fruInfo\r", exp_fruinfo, "Switch Description", "Active FW Version");
  logListing(st, "fwVersion\r", exp_fwversion, "Active Boot Version", "Active FW Version");
  return 0;
}

constexpr std::size_t kCommandSize = 200;
constexpr const char* kFwUpdate = "fwUpdate %s %s %s %s %s\r";
constexpr const char* kEmpty = "\"\"";  // an empty argument

// The fwUpdate command with password as its third argument: false when it
// does not fit whole.
bool buildFwUpdate(const UrlPieces& u, const char* password, std::array<char, kCommandSize>& out) {
  return format_whole(out.data(), out.size(), kFwUpdate, u.server.data(), u.login.data(),
                      password[0] != '\0' ? password : kEmpty, u.directory[0] != '\0' ? u.directory.data() : kEmpty,
                      u.filename.data());
}

// The URL must carry a login and name a file, and the fwUpdate command built
// from it must fit whole: IO_INV_URL_LOGIN when it is the login or password
// that makes it too long, IO_INV_URL_SYNTAX when it is another part.
int urlRule(const char* fileurl) {
  if (const int rc = url_needs_login(fileurl); rc != 0) return rc;
  UrlPieces u;
  if (u.read(fileurl) != URL_OK || u.filename[0] == '\0') return IO_INV_URL_SYNTAX;
  std::array<char, kCommandSize> cmd{};
  if (buildFwUpdate(u, u.password.data(), cmd)) return 0;
  UrlPieces bare = u;
  bare.login[0] = '\0';
  return buildFwUpdate(bare, "", cmd) ? IO_INV_URL_LOGIN : IO_INV_URL_SYNTAX;
}

int failed(Stage& st, int minLevel, int code) {
  st.log(minLevel, "%s", st.reply());
  return code;
}

// Follows the bridge's messages until the prompt returns after progress.
int progress(Stage& st) {
  LoopLimit lim(st, "fwUpdate", UPDATE_SECS);
  bool reported = false;  // the bridge reported transfer progress or success
  for (;;) {
    if (const int e = lim.check()) return e;
    const int rc = st.wait(exp_fwupdate, PROGRESS_SECS);
    switch (rc) {
      case 0:
      case 1:
        st.log(0, "fwUpdate: back at the login: %s\n", st.reply());
        return IO_UPDATE_ERR;
      case 2: return failed(st, 0, IO_FILE_NOT_FOUND);
      case 3: return failed(st, 0, IO_BAD_FILE);
      case 4: return failed(st, 0, IO_BAD_SERV_LOGIN);
      case 5: return failed(st, 2, IO_SERVER_NOT_FOUND);
      case 6: st.log(2, "%s", st.reply()); break;
      case 7:
      case 8:
      case 9:
        reported = true;
        st.log(2, "%s", st.reply());
        break;
      case 10: reported = true; break;
      case 11:
        if (reported) return 0;
        st.log(0, "fwUpdate: prompt without any progress reported: %s\n", st.reply());
        return IO_UPDATE_ERR;
      default: return rc;  // failure, time-out included
    }
  }
}

int update(Stage& st) {
  UrlPieces u;
  u.read(st.run.req.fileurl);  // the parameter check has judged the URL
  st.log(2, "fileurl=%s\n", u.shown.data());
  st.run.text.clear();

  // The logged form names the password by the word "password" alone.
  std::array<char, kCommandSize> cmd{}, logged{};
  const bool built = buildFwUpdate(u, u.password.data(), cmd);
  buildFwUpdate(u, "password", logged);
  if (!built) {
    st.log(0, "fwUpdate command does not fit in %zu characters\n", kCommandSize - 1);
    return IO_UPDATE_ERR;
  }
  st.log(1, "writing: \"%s\"\n", st.shown(logged.data()));
  if (const int w = st.write(cmd.data()); w < 0) {
    st.log(0, "telnet_write(\"%s\") failed rc=%d (%s)\n", st.shown(logged.data()), w, telnet_strerror(w));
    return IO_CONN_ERR;
  }

  if (const int rc = progress(st); rc != 0) return rc;
  st.log(1, "Firmware image installed.\n");
  st.log(1, "fwUpdate succeeded, got prompt\n");
  st.log(0, "Update succeeded %s\n", u.shown.data());
  st.log(2, "return SUCCESS\n");
  return 0;
}

// One command with no dialogue: the bridge goes down at once. A write the
// session refused sent nothing; one it took succeeds, whatever follows.
int reboot(Stage& st) {
  st.log(1, "Resetting/rebooting switch\n");
  if (const int w = st.write("reboot now\r"); w < 0) {
    st.log(0, "telnet_write(\"reboot now\\r\") failed rc=%d (%s)\n", w, telnet_strerror(w));
    return IO_CONN_LOST;
  }
  sleep_ms(1000);
  st.log(2, "return SUCCESS\n");
  return 0;
}

constexpr Family kIBBridge = {
    .module = "ibbridgeflash",
    .display = "IBBridge",
    .target = "IB Bridge",
    .params = {.schemes = URL_SCHEME_FTP, .plainTypedParts = true, .plainPassword = true, .urlRule = urlRule},
    .login = login,
    .logConfigInfo = logConfigInfo,
    .update = update,
    .reboot = reboot,
};

}  // namespace
}  // namespace modburn

int ibbridgeflash(const SwitchRequest* req, char* errText, int errTextSize) {
  return modburn::run_module(modburn::kIBBridge, req, errText, errTextSize);
}
