// veltraflash: the chassis maker's own switch modules, whose console is a
// full-screen menu program. Logs in through one form (user name, TAB,
// password), reads the versions from the System Information screen, moves
// to the Switch Utilities screen with TABs, erases the server and file
// fields with DEL characters and fills them, commits the TFTP upgrade and
// follows the download, erase and write of the flash. The switch reboots by
// itself afterwards, so there is no reboot stage: a session the switch drops
// once the flash is being written counts as success.
//
// The screens are full of terminal escape sequences; every screen text is
// cleaned of them (cleanScreenText) and escaped before it reaches a log line
// or the error text.
#include "switches/veltra_screen.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "com/sregex.h"
#include "core/iostatus.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace modburn {
namespace veltra {

constexpr char ESC = 27;

const char* cleanScreenText(const char* src, char* dst, std::size_t size) {
  if (src == nullptr || dst == nullptr || size == 0) return "NO DATA";
  std::size_t n = 0;
  const char* p = src;
  while (*p != '\0' && n + 1 < size) {
    if (*p == ESC) {
      ++p;
      if (*p == '[') {
        // ESC [ digits and semicolons, then one final character: one blank.
        ++p;
        while (*p != '\0' && ((*p >= '0' && *p <= '9') || *p == ';')) ++p;
        if (*p == ' ') {
          ++p;                    // a blank in the final place: it and the
          if (*p != '\0') ++p;    // character after it go, but never the end
        } else if (*p != '\0') {
          ++p;
        }
      } else if (*p != '\0') {
        ++p;  // ESC and any other character: one blank
      }
      dst[n++] = ' ';
      continue;
    }
    if (*p == ' ') {
      dst[n++] = ' ';
      while (*p == ' ') ++p;  // a run of blanks shrinks to one
      continue;
    }
    dst[n++] = *p++;
  }
  dst[n] = '\0';
  return dst;
}

void appendRepeat(int count, char* dst, const char* unit, std::size_t size) {
  if (dst == nullptr || unit == nullptr || count <= 0 || size == 0) return;
  const std::size_t unitLen = std::strlen(unit);
  std::size_t len = strnlen(dst, size);
  if (unitLen == 0 || len + 1 >= size) return;  // no free space counts as none
  const std::size_t copies = std::min(static_cast<std::size_t>(count), (size - len - 1) / unitLen);
  for (std::size_t i = 0; i < copies; ++i, len += unitLen) std::memcpy(dst + len, unit, unitLen);
  dst[len] = '\0';
}

}  // namespace veltra

namespace {

using veltra::appendRepeat;
using veltra::cleanScreenText;

// Two dotted version numbers side by side on the System Information screen:
// the boot PROM's, then the firmware's.
constexpr const char* kVersions = "[\\d]+\\.[\\d]+\\.[\\d]+ +[\\d]+\\.[\\d]+\\.[\\d]+";

// The longest parts of the URL that are typed into the upgrade form (their
// lengths without the terminator are one less): server, directory, file
// name, and the server path "directory/file name".
constexpr std::size_t kServerSize = 100;
constexpr std::size_t kDirectorySize = 200;
constexpr std::size_t kFileNameSize = 100;
constexpr std::size_t kPathSize = 300;
// The form answers: the login "user\tpassword\r\n" (each at most
// kMaxLoginText), the server "host\t" and the file "path\t\r".
constexpr std::size_t kLoginAnswerSize = 2 * kMaxLoginText + 4;
constexpr std::size_t kServerAnswerSize = kServerSize + 1;
constexpr std::size_t kPathAnswerSize = kPathSize + 2;
// A screen text as a log line shows it: cleaned, then cut like every escaped line.
constexpr std::size_t kShownScreenSize = 200;

// The download may take long, but a console that keeps repainting its
// percentage must not hold the call for ever: 1800 s in all.
constexpr int DOWNLOAD_LIMIT_SECS = 1800;

// The screen text escaped for a log line: cleaned of escape sequences, then
// made printable (in the stage's buffer).
const char* shownScreen(Stage& st, const char* text) {
  std::array<char, Run::kMaxResponse> clean{};
  return st.shown(cleanScreenText(text, clean.data(), clean.size()));
}

// The server path typed into the file field: "directory/file name", or the
// file name alone. False when it does not fit whole.
bool serverPath(const UrlPieces& u, std::array<char, kPathSize>& out) {
  if (u.directory[0] != '\0') return format_whole(out.data(), out.size(), "%s/%s", u.directory.data(), u.filename.data());
  return format_whole(out.data(), out.size(), "%s", u.filename.data());
}

// The URL parts typed into the form must fit their fields whole, and a file
// name must be there to type.
int urlRule(const char* fileurl) {
  UrlPieces u;
  if (u.read(fileurl) != URL_OK) return IO_INV_URL_SYNTAX;
  std::array<char, kPathSize> path{};
  if (!fits(kServerSize, "%s", u.server.data()) || !fits(kDirectorySize, "%s", u.directory.data()) ||
      !fits(kFileNameSize, "%s", u.filename.data()) || u.filename[0] == '\0' || !serverPath(u, path)) {
    return IO_INV_URL_SYNTAX;
  }
  return 0;
}

// --- Login -----------------------------------------------------------------------

// The refusals stand before the prompt: the console paints its screens
// without line ends, so a message and the login form arrive as one line,
// and the credentials must not be typed into a refusal or a firewall.
constexpr auto exp_user = table("exp_user",
                                tooManyUsers("Too many users", "Maximum telnet users already connected - try later\n"),
                                firewall(), finish("Username", 0));
constexpr LoginStep kLogin[] = {{.rows = exp_user, .silence = 60, .reached = "have Username prompt\n"}};
constexpr auto exp_mainmenu =
    table("exp_mainmenu", finish(".* - Main Menu", 0), finish("Access denied", IO_BAD_SWITCH_LOGIN));

// The form takes user name and password in one answer: the name, TAB to
// the password field, the password, Enter.
int login(Stage& st) {
  if (const int rc = login_steps(st, kLogin); rc != 0) return rc;
  const SwitchRequest& req = st.run.req;
  return st.follow(exp_mainmenu,
                   {.type = st.cmdn(kLoginAnswerSize, "%s\t%s\r\n", req.user, req.password), .expected = 0});
}

// --- Versions ----------------------------------------------------------------------

// Keeps the boot PROM and firmware versions found on the System Information
// screen, or the cleaned screen when they cannot be told apart.
int keepVersions(Stage& st) {
  std::array<char, Run::kMaxResponse> clean{};
  cleanScreenText(st.reply(), clean.data(), clean.size());
  std::array<char, 100> found{};
  char* firmware = nullptr;
  if (sregex_match(kVersions, clean.data(), 0, found.data(), found.size()) == SREGEX_MATCH) {
    firmware = std::strchr(found.data(), ' ');  // absent only when a number filled the buffer
  }
  if (firmware == nullptr) {
    std::array<char, kShownScreenSize> screen{};
    st.version("Active FW Version", cleanScreenText(st.reply(), screen.data(), screen.size()));
    return 0;
  }
  *firmware++ = '\0';
  while (*firmware == ' ') ++firmware;
  std::array<char, 150> line{};
  st.version("Active Boot Version", format_cut(line.data(), line.size(), "Boot PROM Version: %s", found.data()));
  st.version("Active FW Version", format_cut(line.data(), line.size(), "Firmware Version : %s", firmware));
  return 0;
}

constexpr auto exp_sysinfo = table("exp_sysinfo", call<keepVersions>("Boot PROM Version:.*"));
constexpr auto exp_mainmenu2 = table("exp_mainmenu2", finish(".* - Main Menu", 0));
constexpr char kEsc[] = {veltra::ESC, '\0'};

// Opens System Information from the main menu, keeps the versions and
// returns to the main menu with ESC, whatever the screen showed: the update
// moves by counted TABs and must start from the main menu. A main menu that
// does not come back fails the connect.
int logConfigInfo(Stage& st) {
  st.follow(exp_sysinfo, {.type = "\r"});
  const int rc = st.follow(exp_mainmenu2, {.type = kEsc, .expected = 0});
  return rc < 0 ? rc : 0;
}

// --- Update ------------------------------------------------------------------------

constexpr auto exp_upgrade = table("exp_upgrade", finish("Upgrade.*Server", 0));
constexpr auto exp_servip = table("exp_servip", finish("Server IP Address", 0));
constexpr auto exp_file = table("exp_file", finish("Specify the complete path and file name", 0));

// Erases a form field: count DEL characters, typed without waiting.
int erase(Stage& st, int count) {
  std::array<char, 200> dels{};
  appendRepeat(count, dels.data(), "\x7f", dels.size());
  return st.type(dels.data());
}

// The commit question, and the path whose echo comes back before it.
struct Commit {
  std::string_view path;
};

// True when the matched text (from a question's word to the end of its
// line) is nothing but the end of the typed path's echo: a path may hold a
// word of the questions ("fw/none.img" holds "/n", "NVRAM/fw.img" holds
// "NVRAM"), and its echo must not be answered.
bool echoOnly(const char* matched, std::string_view path) {
  std::array<char, Run::kMaxResponse> clean{};
  std::string_view text = cleanScreenText(matched, clean.data(), clean.size());
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return !text.empty() && path.ends_with(text);
}

int commitWith(Stage& st, const Commit& c, const char* what, const char* key) {
  if (echoOnly(st.reply(), c.path)) return kReadOn;
  st.log(2, "got %s response\n", what);
  return st.type(key);
}
int commitYesNo(Stage& st, Commit& c) { return commitWith(st, c, "/n", "y"); }
int commitNvram(Stage& st, Commit& c) { return commitWith(st, c, "NVRAM", "\r"); }
int commitYes(Stage& st, Commit& c) { return commitWith(st, c, "Yes", "\r"); }

// A question that asks (y/n) is answered "y" even when it names NVRAM or
// Yes in the same line: Enter would leave it unanswered. The question
// itself is matched ("(y/n)", not "/n"), and each word with the rest of its
// line, so that the echo of the typed path cannot pass for a question.
constexpr auto exp_dlcommit = table("exp_dlcommit",
                                    call<commitYesNo>("\\(y/n\\).*"),
                                    call<commitNvram>("NVRAM.*"),
                                    call<commitYes>("Yes.*"));

// A menu screen painted while the download should run: the switch left the
// upgrade without a word the table knows, and nothing more will come.
int backAtMenu(Stage& st) {
  st.log(0, "Error: back at the menu: %s\n", shownScreen(st, st.reply()));
  return IO_UPDATE_ERR;
}

// The erase that follows a complete download stands first; then the
// failures, the menu screens, the repainted percentage, and any other line,
// kept so that a failure quotes what the switch said before it.
constexpr auto exp_download = table("exp_download",
                                    finish("Erasing FLASH", 0),
                                    finish("Incorrect Image", IO_BAD_FILE).logs(0, "Error! %s\n"),
                                    finish("ait", IO_UPDATE_ERR).logs(0, "Error! %s\n"),  // gave up waiting
                                    finish("Server Not Found", IO_SERVER_NOT_FOUND)
                                        .logs(0, "Error: TFTP Server not found: %s\n"),
                                    finish("File not found", IO_FILE_NOT_FOUND).logs(0, "Error: File not found: %s\n"),
                                    finish("issing", IO_BAD_FILE).logs(0, "Error: Image file not valid: %s\n"),
                                    finish("irectory", IO_FILE_NOT_FOUND).logs(0, "Error: Image file is directory: %s\n"),
                                    finish("Permission denied", IO_FILE_NOT_FOUND)
                                        .logs(0, "Error: TFTP permission denied: %s\n"),
                                    finish("iolation", IO_FILE_NOT_FOUND).logs(0, "Error: TFTP access violation: %s\n"),
                                    call<backAtMenu>(".* - Main Menu"),
                                    call<backAtMenu>(".* - Switch Utilities"),
                                    percent("[\\d]+%").logs(2, "Progress: %s\n"),
                                    otherLine());
constexpr auto exp_writing = table("exp_writing", finish("Writing FLASH", 0));
constexpr auto exp_complete = table("exp_complete", finish("Upgrading.*completed", 0));

// Fills the upgrade form: the server field, the file field, and the commit
// question that follows.
int fillForm(Stage& st, const UrlPieces& u, const char* path) {
  st.log(1, "writing TFTP IP Address: %s\n", u.server.data());
  st.log(1, "writing filename: %s\n", path);

  if (const int rc = erase(st, 15); rc != 0) return rc;
  const int rc = st.follow(exp_file, {.type = st.cmdn(kServerAnswerSize, "%s\t", u.server.data())});
  if (rc < 0) {
    st.log(0, "%s\n", "Probable invalid TFTP Server IP Address");
    return rc == IO_TIMEOUT ? IO_SERVER_NOT_FOUND : rc;
  }

  if (const int e = erase(st, 64); e != 0) return e;
  Commit commit{path};
  return st.follow(exp_dlcommit, {.type = st.cmdn(kPathAnswerSize, "%s\t\r", path)}, commit);
}

// After the erase began the switch may drop the session to reboot itself:
// that is success. Any other failure is returned.
int unverified(Stage& st, int rc) {
  if (rc == IO_CONN_LOST) {
    st.log(0, "Connection terminated by switch doing auto-reboot.\n");
    st.log(0, "Update completion could not be verified.\n");
    return IO_SUCCESS;
  }
  st.log(0, "Warning: Update completion could not be verified.\n");
  return rc;
}

int update(Stage& st) {
  std::array<char, kPathSize> path{};
  serverPath(st.run.url, path);  // fits: the parameter check made sure

  // Main menu to Switch Utilities: six TABs and Enter.
  std::array<char, 198> tabs{};
  appendRepeat(6, tabs.data(), "\t", tabs.size());
  const char* open = st.cmdf("%s\r", tabs.data());
  if (open != nullptr) st.log(2, "writing: \"%s\"\n", shownScreen(st, open));
  if (const int rc = st.follow(exp_upgrade, {.type = open, .silence = 60}); rc != 0) return rc;
  st.log(2, "At Switch Utilities screen\n");
  if (const int rc = st.follow(exp_servip, {.type = "\r", .silence = 60}); rc != 0) return rc;

  if (const int rc = fillForm(st, st.run.url, path.data()); rc != 0) return rc;
  if (const int rc = st.follow(exp_download, {.silence = 60, .limit = DOWNLOAD_LIMIT_SECS}); rc != 0) return rc;
  st.log(1, "Erasing FLASH Memory\n");

  if (const int rc = st.follow(exp_writing, {.silence = 60, .expected = 0}); rc != 0) return unverified(st, rc);
  st.log(1, "Writing flash\n");
  if (const int rc = st.follow(exp_complete, {.expected = 0}); rc != 0) return unverified(st, rc);
  st.log(0, "Writing Complete: %s\n", path.data());
  st.log(1, "Switch automatically rebooting\n");
  st.log(2, "return SUCCESS\n");
  return IO_SUCCESS;
}

void cleanText(const char* text, char* out, std::size_t size) { cleanScreenText(text, out, size); }

constexpr Family kVeltra = {
    .module = "veltraflash",
    .display = "Veltra",
    .target = "Veltra switch",
    // A menu painted on a screen, logged in through a form on it: served over TELNET only.
    .params = {.schemes = URL_SCHEME_TFTP,
               .hostNameRefused = true,
               .plainTypedParts = true,
               .urlRule = urlRule,
               .noSsh = true},
    .login = login,
    .logConfigInfo = logConfigInfo,
    .update = update,
    .cleanText = cleanText,
    .loggedIn = "have Main Menu",
    .switchTextSize = 2000,
    .responseSize = Run::kMaxResponse,
};

}  // namespace
}  // namespace modburn

int veltraflash(const SwitchRequest* req, char* errText, int errTextSize) {
  return modburn::run_module(modburn::kVeltra, req, errText, errTextSize);
}
