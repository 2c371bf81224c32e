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

#include "com/sregex.h"
#include "core/iostatus.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace modburn {
namespace {

constexpr auto exp_user1 = expect("exp_user1", "[Ll]ogin", ".*Firewall.*");
constexpr auto exp_pw = expect("exp_pw", "Password", "incorrect");
constexpr auto exp_version = expect("exp_version", "> $", "SystemDescription.*", "ActiveSWVersion.*");
constexpr auto exp_admin = expect("exp_admin", ".*\\(admin\\):.*> ", "already in Admin Mode");
constexpr auto exp_confcancel = expect("exp_confcancel", "Please confirm \\(y/n\\):");
constexpr auto exp_prompt = expect("exp_prompt", ".*:.*> ");
constexpr auto exp_adprompt = expect("exp_adprompt", ".*\\(admin\\):.*> ");
constexpr auto exp_fetch = expect("exp_fetch",
                                  ".*\\(admin\\):.*> ",       // 0 fetched
                                  "Password:",                // 1 the FTP server asks for the password
                                  "ftp:.*",                   // 2 the FTP client could not reach the server
                                  "ftp>",                     // 3 the FTP client is left at its prompt
                                  ".*cannot find the .*",     // 4 no such file
                                  "TFTP transfer failed.*");  // 5 no such file (TFTP)
constexpr auto exp_adprompt2 = expect("exp_adprompt2",
                                      ".*\\(admin\\):.*> ",       // 0 fetched
                                      "Login failed",             // 1 FTP login refused
                                      "Failed.*",                 // 2 transfer failed
                                      "ftp>",                     // 3 the FTP client is left at its prompt
                                      ".*cannot find the .*",     // 4 no such file
                                      "TFTP transfer failed.*");  // 5 no such file (TFTP)
constexpr auto exp_unpack = expect("exp_unpack",
                                   "switch reset",  // 0 unpacked: the new image runs after a reset
                                   "file does not exist", "Error executing command", ".*name resolution",
                                   ".*BadSize", ".*CorruptImage.*", "[Ww]rong .* image", ".*I/OError");
constexpr auto exp_reset = expect("exp_reset", "Please confirm", ".*requires admin mode.*");
constexpr auto exp_resetconf = expect("exp_resetconf", "Reset switch in progress");

// The result of each failure row of exp_unpack (index 1 to 7).
constexpr std::array<int, 8> kUnpackCodes = {0,           IO_FILE_NOT_FOUND, IO_SERVER_NOT_FOUND,
                                             IO_SERVER_NOT_FOUND, IO_BAD_FILE, IO_BAD_FILE,
                                             IO_BAD_FILE, IO_BAD_FILE};

constexpr int STEP_SECS = 10;
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

int login(Stage& st) {
  const SwitchRequest& req = st.run.req;
  int rc = st.wait(exp_user1, STEP_SECS);
  if (rc < 0) return rc;
  if (rc == 1) {
    st.log(0, "PROBABLE FIREWALL INTERCEPT - NEED TO AUTHENTICATE\n");
    return IO_CONN_ERR;
  }
  st.log(1, "have Login prompt\n");

  rc = st.exchange(exp_pw, st.cmdf("%s\r", req.user), STEP_SECS, 0);
  if (rc < 0) return rc;
  if (rc == 1) {
    st.log(0, "exp_pw: got Incorrect Username error: %s\n", req.user);
    return IO_CONN_ERR;
  }
  st.log(1, "have Password prompt\n");

  std::array<char, kPromptSize> pattern{};
  promptPattern(req.user, pattern);  // the parameter check made sure it fits
  const std::array<const char*, 4> prompt = {pattern.data(), "Login incorrect", "Timed out.*", nullptr};
  rc = st.exchange({"(const char **)exp_prompt", prompt.data()}, st.cmdf("%s\r", req.password), STEP_SECS);
  if (rc < 0) return rc;
  if (rc == 1) {
    st.log(0, "exp_prompt: got Incorrect password error\n");
    return IO_BAD_SWITCH_LOGIN;
  }
  if (rc == 2) {
    st.log(0, "exp_prompt: %s\n", st.reply());
    return IO_CONN_ERR;
  }
  return 0;
}

int logConfigInfo(Stage& st) {
  st.write("show version\r");
  LoopLimit lim(st, "show version", VERSION_LISTING_SECS);
  for (;;) {
    if (lim.check() != 0) return 0;
    const int rc = st.wait(exp_version, STEP_SECS, -1, 100);
    if (rc != 1 && rc != 2) return 0;  // the prompt, or a failure already logged
    st.log(0, "%s: %s\n", rc == 1 ? "Switch Description" : "Active FW Version", st.reply());
  }
}

// What the run holds on the switch: the admin session, and the switch's FTP
// client that a fetch may leave running.
struct AdminState {
  bool adminHeld;
  bool ftpClient;
};

AdminState& admin(Stage& st) { return st.run.state<AdminState>(); }

// Leaves the FTP client (when it may still run) and admin mode, without
// waiting for answers.
void leaveAdmin(Run& run) {
  if (!run.hasState()) return;
  AdminState& a = run.state<AdminState>();
  if (a.ftpClient) telnet_write(run.handle, "quit\r");
  if (a.adminHeld) telnet_write(run.handle, "admin stop\r");
  a = {};
}

// A failure row that ends the FTP client and admin mode itself.
int endFetch(Stage& st, bool quitFtp, int code) {
  if (quitFtp) st.write("quit\r");
  st.write("admin stop\r");
  admin(st) = {};
  return code;
}

// Opens the admin session; when another session holds it, cancels that one first.
int startAdmin(Stage& st) {
  st.log(1, "writing: \"%s\"\n", st.shown("admin start\r"));
  admin(st).adminHeld = true;
  int rc = st.exchange(exp_admin, "admin start\r", STEP_SECS, 0);
  if (rc <= 0) return rc;
  admin(st).adminHeld = false;  // "already in Admin Mode": held by another session
  if ((rc = st.exchange(exp_confcancel, "admin cancel\r", STEP_SECS, 0)) < 0) return rc;
  if ((rc = st.exchange(exp_prompt, "y\r", STEP_SECS, 0)) < 0) return rc;
  admin(st).adminHeld = true;
  rc = st.exchange(exp_adprompt, "admin start\r", STEP_SECS, 0);
  return rc < 0 ? rc : 0;
}

// Answers the FTP server's password question: 0 once fetched, or the failure.
int ftpPassword(Stage& st, const UrlPieces& u) {
  if (std::strcmp(u.login.data(), "anonymous") == 0) {
    st.log(0, "Password for user=anonymous? - shouldn't happen\n");
  }
  const int rc = st.exchange(exp_adprompt2, st.cmdf("%s\r", u.password.data()), FTP_PASSWORD_SECS, 0);
  switch (rc) {
    case 0: return 0;
    case 1:
      st.log(0, "Bad FTP login/password\n");
      return endFetch(st, true, IO_BAD_SERV_LOGIN);
    case 2:
    case 4:
      st.log(0, "Bad FTP file access: %s\n", st.reply());
      return endFetch(st, true, IO_FILE_NOT_FOUND);
    case 3: {
      st.log(0, "Bad FTP login/password - hung in FTP\n");
      admin(st).ftpClient = false;
      const int q = st.exchange(exp_adprompt, "quit\r", STEP_SECS, 0);
      if (q < 0) return q;
      return endFetch(st, false, IO_BAD_SERV_LOGIN);
    }
    case 5:
      st.log(0, "Bad TFTP file access: %s\n", st.reply());
      return endFetch(st, false, IO_FILE_NOT_FOUND);
    default: return rc;
  }
}

// Has the switch fetch the image: 0 once it is back at the admin prompt.
int fetch(Stage& st, const UrlPieces& u, const FetchCommand& cmd, bool tftp) {
  st.log(1, "writing: \"%s\"\n", cmd.text.data());  // as typed: it holds no password
  admin(st).ftpClient = !tftp;
  const int rc = st.exchange(exp_fetch, cmd.text.data(), FETCH_SECS);
  switch (rc) {
    case 0: break;
    case 1:
      if (const int p = ftpPassword(st, u); p != 0) return p;
      break;
    case 2:
      st.log(0, "image fetch command failed: %s\n", st.reply());
      st.log(0, "Probable invalid FTP server IP address\n");
      return endFetch(st, true, IO_SERVER_NOT_FOUND);
    case 3: {
      admin(st).ftpClient = false;
      const int q = st.exchange(exp_prompt, "quit\r", STEP_SECS, 0);
      if (q < 0) return q;
      st.log(0, "image file fetch command failed\n");
      return endFetch(st, false, IO_UPDATE_ERR);
    }
    case 4:
      st.log(0, "Bad FTP file access: %s\n", st.reply());
      return endFetch(st, true, IO_FILE_NOT_FOUND);
    case 5:
      st.log(0, "Bad TFTP file access: %s\n", st.reply());
      return endFetch(st, false, IO_FILE_NOT_FOUND);
    default: return rc;
  }
  admin(st).ftpClient = false;
  return 0;
}

int update(Stage& st) {
  const char* fileurl = st.run.req.fileurl;
  UrlPieces u;
  u.read(fileurl);  // the parameter check has judged the URL
  st.log(2, "fileurl=%s\n", u.shown.data());
  st.run.text.clear();

  // Built before the admin session opens: a command that cannot be typed
  // whole must not leave the switch in admin mode.
  const bool tftp = isTftp(fileurl);
  FetchCommand cmd;
  if (!buildFetch(u, tftp, cmd)) {
    st.log(0, "fetch command does not fit in %zu characters\n", kCommandSize - 1);
    return IO_UPDATE_ERR;
  }

  if (const int rc = startAdmin(st); rc != 0) return rc;
  st.log(1, "Switch in admin mode\n");
  if (const int rc = st.exchange(exp_adprompt, "image cleanup\r", STEP_SECS, 0); rc < 0) return rc;
  st.log(1, "image cleanup succeeded\n");

  if (const int rc = fetch(st, u, cmd, tftp); rc != 0) return rc;

  st.log(1, "Image file fetched from FTP server\n");
  st.log(1, "Now updating Fibre Channel SM firmware\n");
  int rc = st.exchange(exp_unpack, st.cmdf("image unpack %s\r", u.filename.data()), UNPACK_SECS, 0);
  if (rc < 0) return rc;
  if (rc > 0) {
    st.log(0, "Error unpacking image: %s\n", st.reply());
    return endFetch(st, false, kUnpackCodes[static_cast<std::size_t>(rc)]);
  }
  if ((rc = st.exchange(exp_adprompt, "\r", STEP_SECS, 0)) < 0) return rc;
  st.log(2, "Image unpacked OK\n");
  st.log(0, "Download complete %s\n", cmd.serverPath.data());
  st.log(2, "return SUCCESS\n");
  // Without a reset to follow, the frame's stop departure leaves admin mode;
  // the reset runs inside the admin session.
  return st.run.req.reboot ? 0 : IO_SUCCESS_STOP;
}

int reboot(Stage& st) {
  st.log(1, "Resetting/rebooting switch\n");
  int rc = st.exchange(exp_reset, "reset\r", STEP_SECS, 0);
  if (rc < 0) return rc;
  if (rc == 1) {  // outside admin mode: open it and ask again
    admin(st).adminHeld = true;
    if ((rc = st.exchange(exp_adprompt, "admin start\r", STEP_SECS, 0)) < 0) return rc;
    if ((rc = st.exchange(exp_reset, "reset\r", STEP_SECS, 0)) < 0) return rc;
    if (rc == 1) {
      st.log(0, "reset still requires admin mode: %s\n", st.reply());
      return IO_UPDATE_ERR;
    }
  }
  rc = st.exchange(exp_resetconf, "y\r", STEP_SECS, 0);
  if (rc < 0) {
    st.log(0, "%s\n", "Can't confirm reset in progress");
    return rc;
  }
  admin(st) = {};  // the reset ends the admin session
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
