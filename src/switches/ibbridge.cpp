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
#include <string_view>

#include "com/timescale.h"
#include "core/iostatus.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace modburn {
namespace {

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

// --- Login ------------------------------------------------------------------------

constexpr auto exp_user = table("exp_user",
                                finish("username->", 0),
                                finish(".*system is engaged", IO_CONN_ERR).logs(0, "Switch Busy: %s\n"),
                                firewall());
constexpr auto exp_pw = table("exp_pw", finish("password->", 0), finish("Invalid.*", IO_CONN_ERR));

// The answers of the new-password screens so far: a bridge that keeps asking
// is refused after SCREEN_ANSWERS of them.
struct Screens {
  int answers = 0;
};

// A question of the screens: answered with an empty line, which sets no password.
int emptyAnswer(Stage& st, Screens& s) {
  if (++s.answers > SCREEN_ANSWERS) {
    st.log(0, "new password screen: asked again after %d answers\n", SCREEN_ANSWERS);
    return IO_BAD_SWITCH_LOGIN;
  }
  const int rc = st.type("\r");
  return rc != 0 ? rc : kReadOn;
}

// The screens after a Control-C, and after the new password was skipped.
constexpr auto exp_prompt2 = table("exp_prompt2",
                                   finish("username->", IO_BAD_SWITCH_LOGIN).logs(0, "exp_prompt2: back at the login: \"%s\"\n"),
                                   finish("password->", IO_BAD_SWITCH_LOGIN).logs(0, "exp_prompt2: back at the login: \"%s\"\n"),
                                   call<emptyAnswer>("\\(new\\) password:"),
                                   call<emptyAnswer>("confirm the new password:"),
                                   finish("->", 0));
constexpr auto exp_prompt3 = table("exp_prompt3",
                                   finish("username->", IO_BAD_SWITCH_LOGIN).logs(0, "exp_prompt3: back at the login: \"%s\"\n"),
                                   finish("password->", IO_BAD_SWITCH_LOGIN).logs(0, "exp_prompt3: back at the login: \"%s\"\n"),
                                   call<emptyAnswer>("confirm the new password:"),
                                   finish("->", 0));

// Leaves the password screen with Control-C.
int leaveScreen(Stage& st) {
  Screens s;
  return st.follow(exp_prompt2, {.type = "\x03\r"}, s);
}

// Skips the new password: an empty one and its empty confirmation.
int skipNewPassword(Stage& st) {
  Screens s;
  return st.follow(exp_prompt3, {.type = "\r"}, s);
}

constexpr const char* kLoginAgain = "exp_prompt: asked to log in again: \"%s\"\n";

// The answers after the password: the prompt "->" ends the login prompts
// too, which are recognised first.
constexpr auto exp_prompt = table("exp_prompt",
                                  finish("username->", IO_BAD_SWITCH_LOGIN).logs(0, kLoginAgain),
                                  finish("password->", IO_BAD_SWITCH_LOGIN).logs(0, kLoginAgain),
                                  finish("Invalid.*", IO_BAD_SWITCH_LOGIN).logs(0, "exp_prompt: got Invalid: \"%s\"\n"),
                                  call<leaveScreen>("Use Control-C to exit"),
                                  call<skipNewPassword>("\\(new\\) password:"),
                                  finish("->", 0));

constexpr LoginStep kLogin[] = {
    {.rows = exp_user, .reached = "have Username prompt\n"},
    {.rows = exp_pw, .typed = Typed::User, .lineEnd = "\r", .expected = 0, .reached = "have Password prompt\n"},
    {.rows = exp_prompt, .typed = Typed::Password, .lineEnd = "\r"},
};

int login(Stage& st) { return login_steps(st, kLogin); }

// --- Versions ---------------------------------------------------------------------

constexpr auto exp_fruinfo = table("exp_version",
                                   finish("->", 0),
                                   version("Product Name.*", "Switch Description"),
                                   version("Firmware Version.*", "Active FW Version"));
constexpr auto exp_fwversion = table("exp_version",
                                     finish("->", 0),
                                     version("Bootrom Version:.*", "Active Boot Version"),
                                     version("Firmware Version:.*", "Active FW Version"));

// A listing that fails or runs out is logged and leaves the login as it is.
int logConfigInfo(Stage& st) {
  const Wait listing = {.limit = VERSION_LISTING_SECS, .lines = kListingLines, .keep = 100};
  Wait w = listing;
  w.type = "fruInfo\r";
  w.name = "fruInfo";
  st.follow(exp_fruinfo, w);
  w.type = "fwVersion\r";
  w.name = "fwVersion";
  st.follow(exp_fwversion, w);
  return 0;
}

// --- Update -----------------------------------------------------------------------

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

// Whether the bridge has reported transfer progress or success: the prompt
// counts as a finished update only after it did.
struct Progress {
  bool reported = false;
};

int promptBack(Stage& st, Progress& p) {
  if (p.reported) return 0;
  st.log(0, "fwUpdate: prompt without any progress reported: %s\n", st.shown(st.reply()));
  return IO_UPDATE_ERR;
}

// A message of the update, progress when Counts; its pattern runs to the end
// of the line, where the prompt may follow it.
template <bool Counts>
int message(Stage& st, Progress& p) {
  if (Counts) p.reported = true;
  std::string_view line = st.reply();
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) line.remove_suffix(1);
  return line.ends_with("->") ? promptBack(st, p) : kReadOn;
}

constexpr const char* kBackAtLogin = "fwUpdate: back at the login: %s\n";

// The echo of the command first: a typed part may hold "->". The login
// prompts, which end with the prompt, then the failures, then the messages
// (each to the end of its line), then the prompt; any other line is kept for
// the error text.
constexpr auto exp_fwupdate = table("exp_fwupdate",
                                    progress("^fwUpdate [\\S]+ [\\S]+ [\\S]+ [\\S]+ [\\S]+[\\s]*$"),
                                    finish("username->", IO_UPDATE_ERR).logs(0, kBackAtLogin),
                                    finish("password->", IO_UPDATE_ERR).logs(0, kBackAtLogin),
                                    finish(".*cannot find the file.*", IO_FILE_NOT_FOUND).logs(0, "%s\n"),
                                    finish(".*not a package image file", IO_BAD_FILE).logs(0, "%s\n"),
                                    finish("User .* cannot log in", IO_BAD_SERV_LOGIN).logs(0, "%s\n"),
                                    finish("FTP File transfer failed", IO_SERVER_NOT_FOUND).logs(2, "%s\n"),
                                    call<message<false>>("Initiating firmware update.*").logs(2, "%s\n"),
                                    call<message<true>>("md5 values.*").logs(2, "%s\n"),
                                    call<message<true>>("Firmware update .* successfully.*").logs(2, "%s\n"),
                                    call<message<true>>("Flash write completed.*").logs(2, "%s\n"),
                                    call<message<true>>("Percent complete: [\\d]+.*").reports(Measure::Percent),
                                    call<promptBack>("->").unexplained(),
                                    progress(".+"));

int update(Stage& st) {
  const UrlPieces& u = st.run.url;

  // The logged form names the password by the word "password" alone.
  std::array<char, kCommandSize> cmd{}, logged{};
  const bool built = buildFwUpdate(u, u.password.data(), cmd);
  buildFwUpdate(u, "password", logged);
  if (!built) {
    st.log(0, "fwUpdate command does not fit in %zu characters\n", kCommandSize - 1);
    return IO_UPDATE_ERR;
  }
  st.log(1, "writing: \"%s\"\n", st.shown(logged.data()));
  if (const int rc = st.type(cmd.data()); rc != 0) {
    st.log(0, "telnet_write(\"%s\") failed rc=%d (%s)\n", st.shown(logged.data()), rc, err2String(rc));
    return IO_CONN_ERR;
  }

  Progress p;
  const Wait progress = {.silence = PROGRESS_SECS, .limit = UPDATE_SECS, .name = "fwUpdate"};
  if (const int rc = st.follow(exp_fwupdate, progress, p); rc != 0) return rc;
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
  if (const int rc = st.type("reboot now\r"); rc != 0) {
    st.log(0, "telnet_write(\"reboot now\\r\") failed rc=%d (%s)\n", rc, err2String(rc));
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
