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
#include <algorithm>
#include <array>
#include <cstring>

#include "com/sregex.h"
#include "core/exchange.h"
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

// The refusals stand before the prompt: the console paints its screens
// without line ends, so a message and the login form arrive as one line,
// and the credentials must not be typed into a refusal or a firewall.
constexpr auto exp_user = expect("exp_user", "Too many users", ".*Firewall.*", "Username");
constexpr auto exp_mainmenu = expect("exp_mainmenu", ".* - Main Menu", "Access denied");
constexpr auto exp_sysinfo = expect("exp_sysinfo", "Boot PROM Version:.*");
constexpr auto exp_mainmenu2 = expect("exp_mainmenu2", ".* - Main Menu");
constexpr auto exp_upgrade = expect("exp_upgrade", "Upgrade.*Server");
constexpr auto exp_servip = expect("exp_servip", "Server IP Address");
constexpr auto exp_file = expect("exp_file", "Specify the complete path and file name");
// A prompt that asks (y/n) is answered "y" even when it names NVRAM or Yes
// in the same line: Enter would leave the question unanswered.
constexpr auto exp_dlcommit = expect("exp_dlcommit", "/n", "NVRAM", "Yes");
constexpr auto exp_download = expect("exp_download",
                                     "Erasing FLASH",      // 0 downloaded: the erase begins
                                     "Incorrect Image",    // 1 not an image of this switch
                                     "ait",                // 2 the transfer gave up waiting
                                     "Server Not Found",   // 3
                                     "File not found",     // 4
                                     "issing",             // 5 the image is incomplete
                                     "irectory",           // 6 the path names a directory
                                     "Permission denied",  // 7
                                     "iolation",           // 8 TFTP access violation
                                     "[\\d]+%");           // 9 progress: a percentage repainted
constexpr auto exp_writing = expect("exp_writing", "Writing FLASH");
constexpr auto exp_complete = expect("exp_complete", "Upgrading.*completed");

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

// User name and password are typed into form fields: a control character
// (TAB, carriage return, ESC, DEL) would move through the form or the menus.
int loginRule(const SwitchRequest& req) {
  for (const char* text : {req.user, req.password}) {
    for (const char* p = text; *p != '\0'; ++p) {
      const auto b = static_cast<unsigned char>(*p);
      if (b < 0x20 || b == 0x7F) return IO_INV_LOGIN;
    }
  }
  return 0;
}

int login(Stage& st) {
  const SwitchRequest& req = st.run.req;
  int rc = st.wait(exp_user, 60);
  if (rc < 0) return rc;
  if (rc == 0) {
    st.log(0, "Maximum telnet users already connected - try later\n");
    return IO_CONN_ERR;
  }
  if (rc == 1) {
    st.log(0, "PROBABLE FIREWALL INTERCEPT - NEED TO AUTHENTICATE\n");
    return IO_CONN_ERR;
  }
  st.log(1, "have Username prompt\n");
  rc = st.exchange(exp_mainmenu, st.cmdn(kLoginAnswerSize, "%s\t%s\r\n", req.user, req.password), 10, 0);
  if (rc < 0) return rc;
  return rc == 1 ? IO_BAD_SWITCH_LOGIN : 0;
}

// Logs the boot PROM and firmware versions found in the System Information
// screen, or the cleaned screen when they cannot be told apart.
void logVersions(Stage& st) {
  std::array<char, Run::kMaxResponse> clean{};
  cleanScreenText(st.reply(), clean.data(), clean.size());
  std::array<char, 100> found{};
  char* firmware = nullptr;
  if (sregex_match(kVersions, clean.data(), 0, found.data(), found.size()) == SREGEX_MATCH) {
    firmware = std::strchr(found.data(), ' ');  // absent only when a number filled the buffer
  }
  if (firmware == nullptr) {
    st.log(0, "%s: %s\n", "Active FW Version", st.shown(clean.data()));
    return;
  }
  *firmware++ = '\0';
  while (*firmware == ' ') ++firmware;
  st.log(0, "%s: Boot PROM Version: %s\n", "Active Boot Version", found.data());
  st.log(0, "%s: Firmware Version : %s\n", "Active FW Version", firmware);
}

// Opens System Information from the main menu, logs the versions and
// returns to the main menu with ESC, whatever the screen showed: the update
// moves by counted TABs and must start from the main menu. A main menu that
// does not come back fails the connect.
int logConfigInfo(Stage& st) {
  if (st.write("\r") >= 0 && st.wait(exp_sysinfo, 10) == 0) logVersions(st);
  const char esc[] = {veltra::ESC, '\0'};
  const int rc = st.exchange(exp_mainmenu2, esc, 10, 0);
  return rc < 0 ? rc : 0;
}

// Erases a form field: count DEL characters, typed without waiting.
int erase(Stage& st, int count) {
  std::array<char, 200> dels{};
  appendRepeat(count, dels.data(), "\x7f", dels.size());
  const int rc = telnet_send(st.handle(), dels.data());
  if (rc < 0) {
    st.log(0, "telnet_send error=%d (%s)\n", rc, telnet_strerror(rc));
    return io_mapTelnetStatus(rc);
  }
  return 0;
}

// Types an answer without waiting for anything after it.
int answer(Stage& st, const char* text) {
  const int rc = st.write(text);
  if (rc < 0) {
    st.log(0, "telnet_write error=%d (%s)\n", rc, telnet_strerror(rc));
    return io_mapTelnetStatus(rc);
  }
  return 0;
}

// Fills the upgrade form: the server field, the file field, and the commit
// prompt that follows.
int fillForm(Stage& st, const UrlPieces& u, const char* path) {
  st.log(1, "writing TFTP IP Address: %s\n", u.server.data());
  st.log(1, "writing filename: %s\n", path);

  if (const int rc = erase(st, 15); rc < 0) return rc;
  int rc = st.exchange(exp_file, st.cmdn(kServerAnswerSize, "%s\t", u.server.data()), 10);
  if (rc < 0) {
    st.log(0, "%s\n", "Probable invalid TFTP Server IP Address");
    return rc == IO_TIMEOUT ? IO_SERVER_NOT_FOUND : rc;
  }

  if (const int e = erase(st, 64); e < 0) return e;
  rc = st.exchange(exp_dlcommit, st.cmdn(kPathAnswerSize, "%s\t\r", path), 10);
  switch (rc) {
    case 0: st.log(2, "got /n response\n"); return answer(st, "y");
    case 1: st.log(2, "got NVRAM response\n"); return answer(st, "\r");
    case 2: st.log(2, "got Yes response\n"); return answer(st, "\r");
    default: return rc;
  }
}

int downloadFailed(Stage& st, const char* what, int code) {
  st.log(0, "%s%s\n", what, shownScreen(st, st.reply()));
  return code;
}

// Follows the download until the switch starts erasing its flash.
int download(Stage& st) {
  LoopLimit limit(st, "exp_download", DOWNLOAD_LIMIT_SECS);
  for (;;) {
    if (const int rc = limit.check()) return rc;
    const int rc = st.wait(exp_download, 60);
    switch (rc) {
      case 0: return 0;
      case 1: return downloadFailed(st, "Error! ", IO_BAD_FILE);
      case 2: return downloadFailed(st, "Error! ", IO_UPDATE_ERR);
      case 3: return downloadFailed(st, "Error: TFTP Server not found: ", IO_SERVER_NOT_FOUND);
      case 4: return downloadFailed(st, "Error: File not found: ", IO_FILE_NOT_FOUND);
      case 5: return downloadFailed(st, "Error: Image file not valid: ", IO_BAD_FILE);
      case 6: return downloadFailed(st, "Error: Image file is directory: ", IO_FILE_NOT_FOUND);
      case 7: return downloadFailed(st, "Error: TFTP permission denied: ", IO_FILE_NOT_FOUND);
      case 8: return downloadFailed(st, "Error: TFTP access violation: ", IO_FILE_NOT_FOUND);
      case 9: st.log(2, "Progress: %s\n", shownScreen(st, st.reply())); break;
      default: return rc;
    }
  }
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
  UrlPieces u;
  u.read(st.run.req.fileurl);  // the parameter check has judged the URL
  st.log(2, "fileurl=%s\n", u.shown.data());
  st.run.text.clear();
  std::array<char, kPathSize> path{};
  serverPath(u, path);  // fits: the parameter check made sure

  // Main menu to Switch Utilities: six TABs and Enter.
  std::array<char, 198> tabs{};
  appendRepeat(6, tabs.data(), "\t", tabs.size());
  const char* open = st.cmdf("%s\r", tabs.data());
  if (open != nullptr) st.log(2, "writing: \"%s\"\n", shownScreen(st, open));
  int rc = st.exchange(exp_upgrade, open, 60);
  if (rc < 0) return rc;
  st.log(2, "At Switch Utilities screen\n");
  rc = st.exchange(exp_servip, "\r", 60);
  if (rc < 0) return rc;

  if (rc = fillForm(st, u, path.data()); rc < 0) return rc;
  if (rc = download(st); rc < 0) return rc;
  st.log(1, "Erasing FLASH Memory\n");

  rc = st.wait(exp_writing, 60, 0);
  if (rc < 0) return unverified(st, rc);
  st.log(1, "Writing flash\n");
  rc = st.wait(exp_complete, 10, 0);
  if (rc < 0) return unverified(st, rc);
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
    .params = {.schemes = URL_SCHEME_TFTP,
               .hostNameRefused = true,
               .plainTypedParts = true,
               .urlRule = urlRule,
               .lastRule = loginRule},
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
