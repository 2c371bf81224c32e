// qlogicflash and mcdataflash: QLogic and McData Fibre Channel switches,
// whose consoles share one command set built around an admin session. One
// set of stages serves both; each family has its own module name (the head
// of every log line), display name and accepted schemes (QLogic: FTP and
// TFTP; McData: FTP only). The update opens an admin session, cleans the
// image area, has the switch fetch the image ("image fetch" over FTP,
// "image tftp" over TFTP), installs it with "image unpack", and resets the
// switch with "reset" when asked.
//
// The admin session is the switch's own lock: a session left open blocks the
// next "admin start" of anyone. Every path that ends after "admin start"
// without a reset therefore leaves admin mode before the session closes
// ("quit" first while the switch's FTP client may still be running).
#include <array>
#include <cstring>
#include <utility>

#include "com/sregex.h"
#include "core/iostatus.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace modburn {
namespace {

constexpr int FETCH_SECS = 240;
constexpr int FTP_PASSWORD_SECS = 300;
constexpr int UNPACK_SECS = 150;
// Overall limit of the version listing: each line starts a new 10 s wait, so
// a switch that kept printing matching lines would otherwise hold the login.
// A listing is a few lines; 60 s is far above any real one.
constexpr int VERSION_LISTING_SECS = 60;

// The command prompt after the login: the user name followed by "> ", as a
// pattern that matches the name literally, in at most 99 characters.
constexpr std::size_t kPromptSize = 100;
bool promptPattern(const char* user, std::array<char, kPromptSize>& out) {
  std::array<char, kPromptSize - 2> name{};
  if (!sregex_literal(user, std::strlen(user), name.data(), name.size())) return false;
  return format_whole(out.data(), out.size(), "%s> ", name.data());
}

// The commands built from the URL; each must fit whole in 199 characters.
constexpr std::size_t kCommandSize = 200;
constexpr const char* kFetch = "image fetch %s %s %s %s\r";
constexpr const char* kTftp = "image tftp %s %s %s %s\r";

struct FetchCommand {
  std::array<char, kCommandSize> text{};
  std::array<char, 1024> serverPath{};  // directory/file name (each whole): logged on success
};

// Builds the fetch command from the URL's parts: false when it does not fit.
bool buildFetch(const UrlPieces& u, bool tftp, FetchCommand& out) {
  if (u.directory[0] != '\0') {
    format_whole(out.serverPath.data(), out.serverPath.size(), "%s/%s", u.directory.data(), u.filename.data());
  } else {
    format_whole(out.serverPath.data(), out.serverPath.size(), "%s", u.filename.data());
  }
  return format_whole(out.text.data(), out.text.size(), tftp ? kTftp : kFetch, u.login.data(), u.server.data(),
                      out.serverPath.data(), u.filename.data());
}

bool isTftp(const char* fileurl) { return url_scheme_type(fileurl) == URL_SCHEME_TFTP; }

// An FTP URL needs a login; the file must be named; the fetch command and
// the FTP password line must fit whole: the login or password that makes
// them too long gives IO_INV_URL_LOGIN, any other part IO_INV_URL_SYNTAX.
int urlRule(const char* fileurl) {
  if (const int rc = ftp_url_needs_login(fileurl); rc != 0) return rc;
  UrlPieces u;
  if (u.read(fileurl) != URL_OK || u.filename[0] == '\0') return IO_INV_URL_SYNTAX;
  FetchCommand cmd;
  if (!buildFetch(u, isTftp(fileurl), cmd)) {
    UrlPieces noLogin = u;
    noLogin.login[0] = '\0';
    return buildFetch(noLogin, isTftp(fileurl), cmd) ? IO_INV_URL_LOGIN : IO_INV_URL_SYNTAX;
  }
  return fits(kCommandSize, "%s\r", u.password.data()) ? 0 : IO_INV_URL_LOGIN;
}

// The prompt pattern is built from the user name: a name too long for it is refused.
int lastRule(const SwitchRequest& req) {
  std::array<char, kPromptSize> pattern{};
  return promptPattern(req.user, pattern) ? 0 : IO_INV_LOGIN;
}

// --- Login ------------------------------------------------------------------------

constexpr auto exp_user1 = table("exp_user1", finish("[Ll]ogin", 0), firewall());

int userRefused(Stage& st) {
  st.log(0, "exp_pw: got Incorrect Username error: %s\n", st.run.req.user);
  return IO_CONN_ERR;
}
constexpr auto exp_pw = table("exp_pw", finish("Password", 0), call<userRefused>("incorrect"));

int login(Stage& st) {
  std::array<char, kPromptSize> pattern{};
  promptPattern(st.run.req.user, pattern);  // the parameter check made sure it fits
  const auto exp_prompt = table("(const char **)exp_prompt",
                                finish(pattern.data(), 0),
                                finish("Login incorrect", IO_BAD_SWITCH_LOGIN)
                                    .logs(0, "exp_prompt: got Incorrect password error\n"),
                                finish("Timed out.*", IO_CONN_ERR).logs(0, "exp_prompt: %s\n"));
  const LoginStep steps[] = {
      {.rows = exp_user1, .reached = "have Login prompt\n"},
      {.rows = exp_pw, .typed = Typed::User, .lineEnd = "\r", .expected = 0, .reached = "have Password prompt\n"},
      {.rows = exp_prompt, .typed = Typed::Password, .lineEnd = "\r"},
  };
  return login_steps(st, steps);
}

constexpr auto exp_version = table("exp_version",
                                   finish("> $", 0),
                                   version("SystemDescription.*", "Switch Description"),
                                   version("ActiveSWVersion.*", "Active FW Version"));

// A listing that fails or runs out is logged and leaves the login as it is.
int logConfigInfo(Stage& st) {
  st.follow(exp_version,
            {.type = "show version\r", .limit = VERSION_LISTING_SECS, .name = "show version", .lines = kListingLines, .keep = 100});
  return 0;
}

// --- Update -----------------------------------------------------------------------

// What the run holds on the switch: the admin session, and the switch's FTP
// client that a fetch may leave running. The departures leave both (a
// failed update or reset, an update that stops without a reset); they get
// the run alone, so the run keeps it.
struct Held {
  bool admin;
  bool ftpClient;
};

Held& held(Run& run) { return run.state<Held>(); }

// Leaves the FTP client (when it may still run) and admin mode, without
// waiting for answers. A write that fails (logged) has lost the session:
// nothing more is typed.
void leaveAdmin(Run& run) {
  if (!run.hasState()) return;
  const Held h = std::exchange(held(run), Held{});
  Stage st(run, "leaveAdmin");
  if (h.ftpClient && st.type("quit\r") != 0) return;
  if (h.admin && st.type("admin stop\r") != 0) return;
}

constexpr const char* kAdminPrompt = ".*\\(admin\\):.*> ";
constexpr auto exp_adprompt = table("exp_adprompt", finish(kAdminPrompt, 0));
constexpr auto exp_confcancel = table("exp_confcancel", finish("Please confirm \\(y/n\\):", 0));
constexpr auto exp_prompt = table("exp_prompt", finish(".*:.*> ", 0));

// Another session holds admin mode: ends it, then opens admin mode again.
int cancelOther(Stage& st) {
  held(st.run).admin = false;
  if (const int rc = st.follow(exp_confcancel, {.type = "admin cancel\r", .expected = 0}); rc != 0) return rc;
  if (const int rc = st.follow(exp_prompt, {.type = "y\r", .expected = 0}); rc != 0) return rc;
  held(st.run).admin = true;
  return st.follow(exp_adprompt, {.type = "admin start\r", .expected = 0});
}

constexpr auto exp_admin = table("exp_admin", finish(kAdminPrompt, 0), call<cancelOther>("already in Admin Mode"));

// Opens the admin session; when another session holds it, cancels that one first.
int startAdmin(Stage& st) {
  st.log(1, "writing: \"%s\"\n", st.shown("admin start\r"));
  held(st.run).admin = true;
  return st.follow(exp_admin, {.type = "admin start\r", .expected = 0});
}

// A failed fetch, its FTP client left running or not: the departure quits
// it when it runs, and leaves admin mode.
template <bool FtpClient, int Code>
int fetchFailed(Stage& st) {
  held(st.run).ftpClient = FtpClient;
  return Code;
}

int noServer(Stage& st) {
  st.log(0, "Probable invalid FTP server IP address\n");
  return fetchFailed<true, IO_SERVER_NOT_FOUND>(st);
}

// The FTP client is left at its own prompt: quit, back to the switch's prompt.
int quitFtp(Stage& st, const TableRef& prompt) {
  held(st.run).ftpClient = false;
  return st.follow(prompt, {.type = "quit\r", .expected = 0});
}

int fetchAtFtpPrompt(Stage& st) {
  if (const int rc = quitFtp(st, exp_prompt); rc != 0) return rc;
  st.log(0, "image file fetch command failed\n");
  return IO_UPDATE_ERR;
}

int passwordAtFtpPrompt(Stage& st) {
  const int rc = quitFtp(st, exp_adprompt);
  return rc != 0 ? rc : IO_BAD_SERV_LOGIN;
}

constexpr const char* kBadFile = "Bad FTP file access: %s\n";
constexpr const char* kBadTftpFile = "Bad TFTP file access: %s\n";

// The answer to the FTP server's password question. The failures stand
// before the admin prompt, which may follow them on their line.
constexpr auto exp_adprompt2 = table("exp_adprompt2",
                                     call<fetchFailed<true, IO_BAD_SERV_LOGIN>>("Login failed")
                                         .logs(0, "Bad FTP login/password\n"),
                                     call<fetchFailed<true, IO_FILE_NOT_FOUND>>("Failed.*").logs(0, kBadFile),
                                     call<passwordAtFtpPrompt>("ftp>").logs(0, "Bad FTP login/password - hung in FTP\n"),
                                     call<fetchFailed<true, IO_FILE_NOT_FOUND>>(".*cannot find the .*").logs(0, kBadFile),
                                     call<fetchFailed<false, IO_FILE_NOT_FOUND>>("TFTP transfer failed.*")
                                         .logs(0, kBadTftpFile),
                                     finish(kAdminPrompt, 0));

// Answers the FTP server's password question: 0 once fetched, or the failure.
int ftpPassword(Stage& st) {
  const UrlPieces& u = st.run.url;
  if (std::strcmp(u.login.data(), "anonymous") == 0) {
    st.log(0, "Password for user=anonymous? - shouldn't happen\n");
  }
  constexpr int kFetched = exp_adprompt2.rows.size() - 1;  // the admin prompt
  return st.follow(exp_adprompt2,
                   {.type = st.cmdf("%s\r", u.password.data()), .silence = FTP_PASSWORD_SECS, .expected = kFetched});
}

// The FTP client's own messages and prompt begin their line: the echo of the
// fetch command, whose path may hold "ftp:", is none of them. The failures
// stand before the admin prompt, which may follow them on their line.
constexpr auto exp_fetch = table("exp_fetch",
                                 call<ftpPassword>("Password:"),
                                 call<noServer>("^ftp:.*").logs(0, "image fetch command failed: %s\n"),
                                 call<fetchAtFtpPrompt>("^ftp>"),
                                 call<fetchFailed<true, IO_FILE_NOT_FOUND>>(".*cannot find the .*").logs(0, kBadFile),
                                 call<fetchFailed<false, IO_FILE_NOT_FOUND>>("TFTP transfer failed.*")
                                     .logs(0, kBadTftpFile),
                                 finish(kAdminPrompt, 0));

// Has the switch fetch the image: 0 once it is back at the admin prompt.
int fetch(Stage& st, const FetchCommand& cmd, bool tftp) {
  st.log(1, "writing: \"%s\"\n", cmd.text.data());  // as typed: it holds no password
  held(st.run).ftpClient = !tftp;
  if (const int rc = st.follow(exp_fetch, {.type = cmd.text.data(), .silence = FETCH_SECS}); rc != 0) return rc;
  held(st.run).ftpClient = false;
  return 0;
}

constexpr const char* kUnpackFailed = "Error unpacking image: %s\n";

// The echo of the command first: a file name may hold "BadSize" or
// "CorruptImage". Success, then the failures, then the prompt: back before
// any of them, the switch refused the command. Any other line is kept for
// the error text.
constexpr auto exp_unpack = table("exp_unpack",
                                  progress("^image unpack [\\S]+[\\s]*$"),
                                  finish("switch reset", 0),  // unpacked: the new image runs after a reset
                                  finish("file does not exist", IO_FILE_NOT_FOUND).logs(0, kUnpackFailed),
                                  finish("Error executing command", IO_SERVER_NOT_FOUND).logs(0, kUnpackFailed),
                                  finish(".*name resolution", IO_SERVER_NOT_FOUND).logs(0, kUnpackFailed),
                                  finish(".*BadSize", IO_BAD_FILE).logs(0, kUnpackFailed),
                                  finish(".*CorruptImage.*", IO_BAD_FILE).logs(0, kUnpackFailed),
                                  finish("[Ww]rong .* image", IO_BAD_FILE).logs(0, kUnpackFailed),
                                  finish(".*I/OError", IO_BAD_FILE).logs(0, kUnpackFailed),
                                  finish(".*:.*> ", IO_UPDATE_ERR).logs(0, "image unpack: back at the prompt: %s\n").unexplained(),
                                  progress(".+"));

int update(Stage& st) {
  const UrlPieces& u = st.run.url;

  // Built before the admin session opens: a command that cannot be typed
  // whole must not leave the switch in admin mode.
  const bool tftp = isTftp(st.run.req.fileurl);
  FetchCommand cmd;
  if (!buildFetch(u, tftp, cmd)) {
    st.log(0, "fetch command does not fit in %zu characters\n", kCommandSize - 1);
    return IO_UPDATE_ERR;
  }

  if (const int rc = startAdmin(st); rc != 0) return rc;
  st.log(1, "Switch in admin mode\n");
  if (const int rc = st.follow(exp_adprompt, {.type = "image cleanup\r", .expected = 0}); rc != 0) return rc;
  st.log(1, "image cleanup succeeded\n");

  if (const int rc = fetch(st, cmd, tftp); rc != 0) return rc;

  st.log(1, "Image file fetched from FTP server\n");
  st.log(1, "Now updating Fibre Channel SM firmware\n");
  const Wait unpack = {.type = st.cmdf("image unpack %s\r", u.filename.data()), .silence = UNPACK_SECS};
  if (const int rc = st.follow(exp_unpack, unpack); rc != 0) return rc;
  if (const int rc = st.follow(exp_adprompt, {.type = "\r", .expected = 0}); rc != 0) return rc;
  st.log(2, "Image unpacked OK\n");
  st.log(0, "Download complete %s\n", cmd.serverPath.data());
  st.log(2, "return SUCCESS\n");
  // Without a reset to follow, the frame's stop departure leaves admin mode;
  // the reset runs inside the admin session.
  return st.run.req.reboot ? 0 : IO_SUCCESS_STOP;
}

// --- Reset ------------------------------------------------------------------------

constexpr auto exp_reset_again = table("exp_reset",
                                       finish("Please confirm", 0),
                                       finish(".*requires admin mode.*", IO_UPDATE_ERR)
                                           .logs(0, "reset still requires admin mode: %s\n"));

// Outside admin mode: opens it and asks again.
int resetInAdmin(Stage& st) {
  held(st.run).admin = true;
  if (const int rc = st.follow(exp_adprompt, {.type = "admin start\r", .expected = 0}); rc != 0) return rc;
  return st.follow(exp_reset_again, {.type = "reset\r", .expected = 0});
}

constexpr auto exp_reset = table("exp_reset", finish("Please confirm", 0), call<resetInAdmin>(".*requires admin mode.*"));
constexpr auto exp_resetconf = table("exp_resetconf", finish("Reset switch in progress", 0));

int reboot(Stage& st) {
  st.log(1, "Resetting/rebooting switch\n");
  if (const int rc = st.follow(exp_reset, {.type = "reset\r", .expected = 0}); rc != 0) return rc;
  if (const int rc = st.follow(exp_resetconf, {.type = "y\r", .expected = 0}); rc != 0) {
    st.log(0, "%s\n", "Can't confirm reset in progress");
    return rc;
  }
  held(st.run) = {};  // the reset ends the admin session
  st.log(2, "return SUCCESS\n");
  return 0;
}

constexpr Family family(const char* module, const char* display, const char* target, unsigned schemes) {
  return {
      .module = module,
      .display = display,
      .target = target,
      .params = {.schemes = schemes, .plainTypedParts = true, .urlRule = urlRule, .lastRule = lastRule},
      .login = login,
      .logConfigInfo = logConfigInfo,
      .update = update,
      .reboot = reboot,
      .beforeFailedClose = leaveAdmin,
      .onStop = leaveAdmin,
  };
}

constexpr Family kQLogic = family("qlogicflash", "QLogic", "QLogic switch", URL_SCHEME_FTP | URL_SCHEME_TFTP);
constexpr Family kMcData = family("mcdataflash", "McData", "McData switch", URL_SCHEME_FTP);

}  // namespace
}  // namespace modburn

int qlogicflash(const SwitchRequest* req, char* errText, int errTextSize) {
  return modburn::run_module(modburn::kQLogic, req, errText, errTextSize);
}

int mcdataflash(const SwitchRequest* req, char* errText, int errTextSize) {
  return modburn::run_module(modburn::kMcData, req, errText, errTextSize);
}
