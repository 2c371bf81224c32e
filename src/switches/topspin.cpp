// topspinflash: InfiniBand switch modules running TopspinOS. Logs in and
// enters privileged mode, records the running and configured images, deletes
// one old package file from the switch's "image:" file system, has the switch
// fetch the new package with its own "copy" command (the whole URL,
// credentials included, is the copy source), installs it, deletes the package
// again, finds the name the installed image shows up under, makes it the
// primary image source of the boot configuration and leaves configuration
// mode. The reset is "reload no-failover".
//
// Every wait for the privileged prompt reads the switch's output up to that
// prompt before the next command is typed: a prompt left unread would answer
// the next command's wait and hide what that command printed.
//
// Bounded loops (all through the time seam; generous, well above the waits
// the switch needs):
//   copy                    2 hours in all, 30 s per wait
//   install                 1 hour in all
//   deletes, listings       10 minutes each
//   logConfigInfo listings  5 minutes each, at most 100 pages
//   ping                    2 minutes
//   reload                  5 minutes
//   "yes" answers           5 per question and loop
#include <array>
#include <cstring>
#include <string_view>

#include "com/sregex.h"
#include "core/iostatus.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace modburn {
namespace {

// --- Expect arrays ---------------------------------------------------------

constexpr auto exp_user1 = expect("exp_user1", "login", ".*Firewall.*");
constexpr auto exp_pw = expect("exp_pw", "Password");
constexpr auto exp_prompt_login = expect("exp_prompt",
                                         ".*# $",                  // 0 privileged prompt
                                         ".*> $",                  // 1 user prompt
                                         ".*login",                // 2 asked to log in again: refused
                                         "Change your password");  // 3 asks for a new password
constexpr auto exp_pwnoch = expect("exp_pwnoch", "Password was not changed.*");
// The prompt that follows the declined password change.
constexpr auto exp_anyprompt = expect("exp_prompt", ".*# $", ".*> $");

constexpr auto exp_showboot2 = expect("exp_showboot2", ".*> $", ".*# $", "sw-version :.*", "primary-image-source :.*");
constexpr auto exp_showcard = expect("exp_showcard", ".*> $", ".*# $", "image :.*", "Press any key.*");

// The update stage waits for the privileged prompt alone: a login array would
// take a "Last login" line for an answer.
constexpr auto exp_prompt = expect("exp_prompt", ".*# $");
// Listings: the entry runs to the end of its line, so that a prompt printed
// on the same line ends the listing.
constexpr auto exp_dirimg1 = expect("exp_dirimg1", "[\\S]+\\.img.*", ".*# $");
constexpr auto exp_dirimg2 = expect("exp_dirimg2", "[\\S]*/[\\S]*.*", ".*# $");
constexpr const char* kPackageName = "[\\S]+\\.img";
// Deletes: the question and the prompt before progress, so that progress
// stars printed in front of either do not hide it.
constexpr auto exp_delimg = expect("exp_delimg", "Delete file", ".*# $", "\\*");
constexpr auto exp_delete = expect("exp_delete", "Delete file", ".*# $", "\\*");
// The copy: failures first, then success (to the end of its line, where the
// prompt may follow), then progress, so that a line of stars or a percentage
// in front of an error message cannot pass for progress.
constexpr auto exp_copy = expect("exp_copy",
                                 "Error: FTP server not reachable",  // 0 IO_SERVER_NOT_FOUND
                                 "Error: Invalid image file name",   // 1 IO_FILE_NOT_FOUND
                                 "Error: Incorrect Username.*",      // 2 IO_BAD_SERV_LOGIN
                                 "Error: No Such file.*",            // 3 IO_FILE_NOT_FOUND
                                 "Error: Operation failed",          // 4 classified by progress and ping
                                 "Error: .*",                        // 5 IO_UPDATE_ERR
                                 ".*successfully.*",                 // 6 copied
                                 "\\*",                              // 7 progress
                                 ".*%");                             // 8 progress
constexpr auto exp_showboot = expect("exp_showboot", "primary-image-source.*", "Error: .*");
// The install: errors and the question before the prompt, the prompt before progress.
constexpr auto exp_install = expect("exp_install",
                                    "Error: Problem unpacking.*",  // 0 IO_BAD_FILE
                                    "Error:.*",                    // 1 IO_UPDATE_ERR
                                    "Proceed.*",                   // 2 answered "yes"
                                    ".*# $",                       // 3 installed
                                    "\\*");                        // 4 progress
// An error printed in front of the prompt on one line is an error.
constexpr auto exp_bconfig = expect("exp_bconfig", "Error:.*", ".*# $");
constexpr auto exp_ping = expect("exp_ping", "Success rate is 100 percent", "Success rate is .* percent",
                                 "unknown host", ".*> $", ".*# $");
// An error is tried first: "Error: ... Proceed ..." is not a confirmation.
constexpr auto exp_reload = expect("exp_reload", "Error.*", "Save.*", "Proceed.*");

// --- Commands and limits ------------------------------------------------------

constexpr const char* kCopy = "copy %s image:%s\r";
constexpr const char* kDelete = "delete image:%s\r";
constexpr const char* kInstall = "install image:%s\r";
constexpr const char* kBootConfig = "boot-config primary-image-source %s\r";
constexpr const char* kPing = "ping %s\r";
constexpr std::size_t kCommandSize = 200;  // commands of at most 199 characters
constexpr std::size_t kPingSize = 100;     // the ping command: at most 99 characters

constexpr int WAIT_SECS = 10;
constexpr int COPY_WAIT_SECS = 30;
constexpr int PING_WAIT_SECS = 5;
constexpr int COPY_LIMIT_SECS = 2 * 3600;
constexpr int INSTALL_LIMIT_SECS = 3600;
constexpr int DELETE_LIMIT_SECS = 600;
constexpr int LISTING_LIMIT_SECS = 600;
constexpr int INFO_LIMIT_SECS = 300;
constexpr int INFO_MAX_PAGES = 100;
constexpr int PING_LIMIT_SECS = 120;
constexpr int RELOAD_LIMIT_SECS = 300;
constexpr int MAX_YES = 5;
constexpr int INFO_RESPONSE = 100;
constexpr int PING_RESPONSE = 200;

using Name = std::array<char, 256>;

// What the update stage learns on its way: the image the switch boots now,
// the image the package should install as, and the progress of the copy.
struct TopspinState {
  Name primary;   // current primary image source
  Name expected;  // name the package installs under; empty outside the naming
  Name chosen;    // image made the primary image source
  int progress;   // progress lines of the copy
};

// --- Small text helpers ---------------------------------------------------------

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// True when a match that runs to the end of its line ends with prompt ("# ").
bool endsAtPrompt(std::string_view text, std::string_view prompt = "# ") {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  return text.size() >= prompt.size() && text.substr(text.size() - prompt.size()) == prompt;
}

// The text up to its first blank or line end.
std::string_view firstWord(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && !isBlank(text[n])) ++n;
  return text.substr(0, n);
}

// Copies text whole into out; false (out empty) when it does not fit.
bool copyWhole(std::string_view text, Name& out) {
  out[0] = '\0';
  if (text.size() >= out.size()) return false;
  std::memcpy(out.data(), text.data(), text.size());
  out[text.size()] = '\0';
  return true;
}

// The image named by a "primary-image-source : <name>" line: the word after
// the first ':' (blanks skipped), empty when there is no ':' or nothing
// follows it. Never reads past the text.
std::string_view primaryImage(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return {};
  std::size_t start = colon + 1;
  while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
  return firstWord(line.substr(start));
}

// The name a package installs under: for a package named after the
// "TopspinOS-<version>-build<n>.img" naming, its name without the extension
// and with the last '-' made a '/' ("TopspinOS-2.3.0/build123"). Returns the
// engine's result (SREGEX_MATCH or not); out is empty without a match.
int expectedImage(const char* filename, char* out, std::size_t size) {
  out[0] = '\0';
  const int rc = sregex_match("TopspinOS-.*-build[\\d]+\\.img", filename, 0, out, size);
  if (rc != SREGEX_MATCH) {
    out[0] = '\0';
    return rc;
  }
  if (char* dot = std::strrchr(out, '.')) *dot = '\0';
  if (char* dash = std::strrchr(out, '-')) *dash = '/';
  return rc;
}

// --- Parameter check -------------------------------------------------------------

// The scheme in lower case; an FTP URL carries a login and a password; the
// URL names a file; and every command built from the URL fits whole:
// IO_INV_URL_LOGIN when it is the credentials that make the copy command too
// long, IO_INV_URL_SYNTAX otherwise.
int urlRule(const char* fileurl) {
  if (const int rc = url_scheme_lower_case(fileurl); rc != 0) return rc;
  UrlPieces u;
  if (u.read(fileurl) != URL_OK) return IO_INV_URL_SYNTAX;
  if (url_scheme_type(fileurl) == URL_SCHEME_FTP && (u.login[0] == '\0' || u.password[0] == '\0')) {
    return IO_INV_URL_LOGIN;
  }
  if (u.filename[0] == '\0') return IO_INV_URL_SYNTAX;
  if (!fits(kPingSize, kPing, u.server.data())) return IO_INV_URL_SYNTAX;
  if (!fits(kCommandSize, kCopy, fileurl, u.filename.data())) {
    // Without "login:password@" would it fit? Then the credentials are too long.
    const std::size_t login = std::strlen(u.login.data());
    const std::size_t password = std::strlen(u.password.data());
    const std::size_t credentials = login == 0 ? 0 : login + 1 + (password == 0 ? 0 : password + 1);
    const std::size_t rest = std::strlen(fileurl) - std::min(credentials, std::strlen(fileurl));
    return std::strlen("copy  image:\r") + rest + std::strlen(u.filename.data()) < kCommandSize ? IO_INV_URL_LOGIN
                                                                                                 : IO_INV_URL_SYNTAX;
  }
  return 0;  // delete and install name only the file, which the copy command holds already
}

// --- Login ------------------------------------------------------------------------

int login(Stage& st) {
  const SwitchRequest& req = st.run.req;
  int rc = st.wait(exp_user1, WAIT_SECS);
  if (rc < 0) return rc;
  if (rc == 1) {
    st.log(0, "PROBABLE FIREWALL INTERCEPT - NEED TO AUTHENTICATE\n");
    return IO_CONN_ERR;
  }
  st.log(1, "have Username prompt\n");

  rc = st.exchange(exp_pw, st.cmdf("%s\r\n", req.user), WAIT_SECS, 0);
  if (rc < 0) return rc;
  st.log(1, "have Password prompt\n");

  rc = st.exchange(exp_prompt_login, st.cmdf("%s\r\n", req.password), WAIT_SECS);
  if (rc < 0) return rc;
  if (rc == 2) {
    st.log(0, "exp_prompt: got Invalid login/password\n");
    return IO_BAD_SWITCH_LOGIN;
  }
  if (rc == 3) {  // decline the password change, then read on to the prompt that follows
    rc = st.exchange(exp_pwnoch, "no\r", WAIT_SECS, 0);
    if (rc < 0) return rc;
    if (!endsAtPrompt(st.reply()) && !endsAtPrompt(st.reply(), "> ")) {
      rc = st.wait(exp_anyprompt, WAIT_SECS);
      if (rc < 0) return rc;
    }
  }

  rc = st.exchange(exp_prompt_login, "enable\r", WAIT_SECS, 0);
  if (rc < 0) return rc;
  return rc == 0 ? 0 : IO_CONN_ERR;
}

// --- Versions ------------------------------------------------------------------------

// Logs the labelled lines of one listing up to its prompt; a pager is paged on.
void logListing(Stage& st, const char* cmd, ExpectRef exp, const char* label2, const char* label3, bool pager) {
  st.write(cmd);
  LoopLimit lim(st, exp.name, INFO_LIMIT_SECS);
  AnswerLimit pages(st, exp.name, INFO_MAX_PAGES, IO_TIMEOUT);
  for (;;) {
    if (lim.check() != 0) return;
    const int rc = st.wait(exp, WAIT_SECS, -1, INFO_RESPONSE);
    if (rc == 2 && label2 != nullptr) {
      st.log(0, "%s: %s\n", label2, st.shown(st.reply()));
    } else if (rc == 3 && pager) {
      if (pages.next() != 0) return;
      st.write("\r");
    } else if (rc == 3) {
      st.log(0, "%s: %s\n", label3, st.shown(st.reply()));
    } else {
      return;  // the prompt, or a failure already logged
    }
  }
}

int logConfigInfo(Stage& st) {
  logListing(st, "show boot-config\r", exp_showboot2, "Active FW Version", "Flash Partition Version", false);
  logListing(st, "show card-inventory\r", exp_showcard, "Flash Partition Version", nullptr, true);
  return 0;
}

// --- Update -------------------------------------------------------------------------------

// Types a command without waiting: 0, IO_UPDATE_ERR for a command that did
// not fit (not typed), IO_CONN_ERR when the session fails.
int type(Stage& st, const char* cmd) {
  if (cmd == nullptr) return st.write(cmd);
  return st.write(cmd) < 0 ? IO_CONN_ERR : 0;
}

// Waits for the privileged prompt: 0 or the failure.
int awaitPrompt(Stage& st) {
  const int rc = st.wait(exp_prompt, WAIT_SECS, 0);
  return rc < 0 ? rc : 0;
}

// Types cmd and waits for the privileged prompt: 0 or the failure.
int promptAfter(Stage& st, const char* cmd) {
  const int rc = st.exchange(exp_prompt, cmd, WAIT_SECS, 0);
  return rc < 0 ? rc : 0;
}

// Deletes one file of the image file system, answering its question, up to the prompt.
int deleteFile(Stage& st, ExpectRef exp, const char* filename) {
  if (const int w = type(st, st.cmdf(kDelete, filename)); w != 0) return w;
  LoopLimit lim(st, exp.name, DELETE_LIMIT_SECS);
  AnswerLimit yes(st, exp.name, MAX_YES, IO_UPDATE_ERR);
  for (;;) {
    if (const int rc = lim.check()) return rc;
    const int rc = st.wait(exp, WAIT_SECS);
    if (rc < 0) return rc;
    if (rc == 1) return 0;
    if (rc == 0) {
      if (const int q = yes.next()) return q;
      st.write("yes\r");
    }
  }
}

// Lists the package files and deletes the first one listed, if any.
int deleteOldPackage(Stage& st) {
  st.write("dir image\r");
  Name old{};
  LoopLimit lim(st, exp_dirimg1.name, LISTING_LIMIT_SECS);
  for (bool listing = true; listing;) {
    if (const int rc = lim.check()) return rc;
    const int rc = st.wait(exp_dirimg1, WAIT_SECS);
    if (rc < 0) return rc;
    if (rc == 0) {
      std::array<char, 1000> name{};
      if (old[0] == '\0' && sregex_match(kPackageName, st.reply(), 0, name.data(), name.size()) == SREGEX_MATCH &&
          !copyWhole(name.data(), old)) {
        st.log(0, "package name too long to delete: %s\n", st.shown(name.data()));
      }
      listing = !endsAtPrompt(st.reply());
    } else {
      listing = false;
    }
  }
  if (old[0] == '\0') return 0;  // no package file listed
  st.log(1, "deleting old image: %s\n", st.shown(old.data()));
  if (const int rc = deleteFile(st, exp_delimg, old.data()); rc != 0) return rc;
  st.log(1, "deletion complete\n");
  return 0;
}

// Whether the switch can ping server: 1 or 0. Leaves the switch text alone.
int serverValid(Run& run, const char* server) {
  Stage st(run, "serverValid", run.req.targetip, run.req.targetip, 0);
  if (st.write(st.cmdn(kPingSize, kPing, server)) < 0) return 0;
  LoopLimit lim(st, exp_ping.name, PING_LIMIT_SECS);
  int note = -1;  // no result line yet
  for (;;) {
    if (lim.check() != 0) return 0;
    const int rc = st.quietWait(exp_ping, PING_WAIT_SECS, -1, PING_RESPONSE);
    if (rc < 0) return 0;
    if (rc == 0) note = 1;
    if (rc == 1 || rc == 2) note = 0;
    if ((rc == 3 || rc == 4) && note >= 0) return note;
  }
}

// The copy command's one failure message that says nothing of its cause.
int operationFailed(Stage& st, const UrlPieces& u) {
  if (st.run.state<TopspinState>().progress <= 1) {
    return serverValid(st.run, u.server.data()) == 1 ? IO_FILE_NOT_FOUND : IO_SERVER_NOT_FOUND;
  }
  st.log(0, "copy command failed after partial download - Reason unknown\n");
  return IO_UPDATE_ERR;
}

// A console that wraps the echoed copy command inside the password prints
// each part of the password on its own line, where the password itself is
// not found. Registers, for every place of such a wrap, the part before it
// and the part after it, each with as much of the command next to it as
// makes it as long as the password: never longer, so that where the whole
// password shows it is masked first. Secrets of one length are masked in the
// order registered: the parts before a wrap are registered longest first,
// the parts after it likewise, so that the longest part a line holds is
// masked whole before a shorter one can mask only its context.
void registerWrappedPassword(Run& run, std::string_view cmd, const UrlPieces& u) {
  const std::string_view pw = u.password.data();
  if (pw.size() < 2) return;
  // "copy " scheme "://" login ":" password "@" ...
  std::size_t at = 5 + std::strlen(u.scheme.data()) + 3 + std::strlen(u.login.data()) + 1;
  if (at >= cmd.size() || cmd.substr(at, pw.size()) != pw) at = cmd.find(pw);
  if (at == std::string_view::npos) return;
  const std::string_view echoed = cmd.substr(0, cmd.find('\r'));
  const std::size_t len = pw.size();
  for (std::size_t v = len - 1; v >= 1; --v) {  // wrapped after v characters: the line that ends there
    const std::size_t to = at + v;
    const std::size_t from = to > len ? to - len : 0;
    run.addSecret(echoed.substr(from, to - from));
  }
  for (std::size_t v = 1; v < len; ++v) {  // the line that begins there
    run.addSecret(echoed.substr(at + v, len));
  }
}

// Has the switch fetch the package and follows the copy to its end.
int copyPackage(Stage& st, const UrlPieces& u) {
  const char* fileurl = st.run.req.fileurl;
  std::array<char, kCommandSize> shownCommand{};
  format_cut(shownCommand.data(), shownCommand.size(), kCopy, u.shown.data(), u.filename.data());
  st.log(1, "writing: \"%s\"\n", st.shown(shownCommand.data()));
  const char* cmd = st.cmdf(kCopy, fileurl, u.filename.data());
  if (cmd != nullptr) registerWrappedPassword(st.run, cmd, u);
  if (const int w = type(st, cmd); w != 0) return w;

  TopspinState& s = st.run.state<TopspinState>();
  LoopLimit lim(st, exp_copy.name, COPY_LIMIT_SECS);
  for (;;) {
    if (const int rc = lim.check()) return rc;
    const int rc = st.wait(exp_copy, COPY_WAIT_SECS);
    if (rc < 0) return rc;
    if (rc <= 5) st.log(0, "copy command: %s\n", st.shown(st.reply()));
    switch (rc) {
      case 0: return IO_SERVER_NOT_FOUND;
      case 1: return IO_FILE_NOT_FOUND;
      case 2: return IO_BAD_SERV_LOGIN;
      case 3: return IO_FILE_NOT_FOUND;
      case 4: return operationFailed(st, u);
      case 5: return IO_UPDATE_ERR;
      case 6: return endsAtPrompt(st.reply()) ? 0 : awaitPrompt(st);
      default: ++s.progress; break;  // 7, 8
    }
  }
}

// Reads the primary image source of the boot configuration, up to the prompt.
int readPrimary(Stage& st) {
  const int rc = st.exchange(exp_showboot, "show boot-config\r", WAIT_SECS);
  if (rc < 0) return rc;
  if (rc == 1) {
    st.log(0, "show boot-config: %s\n", st.shown(st.reply()));
    return IO_UPDATE_ERR;
  }
  TopspinState& s = st.run.state<TopspinState>();
  const std::string_view primary = primaryImage(st.reply());
  if (!copyWhole(primary, s.primary)) copyWhole(primary.substr(0, s.primary.size() - 1), s.primary);
  return endsAtPrompt(st.reply()) ? 0 : awaitPrompt(st);
}

int install(Stage& st, const char* filename) {
  if (const int w = type(st, st.cmdf(kInstall, filename)); w != 0) return w;
  LoopLimit lim(st, exp_install.name, INSTALL_LIMIT_SECS);
  AnswerLimit yes(st, exp_install.name, MAX_YES, IO_UPDATE_ERR);
  for (;;) {
    if (const int rc = lim.check()) return rc;
    const int rc = st.wait(exp_install, WAIT_SECS);
    if (rc < 0) return rc;
    switch (rc) {
      case 0:
      case 1:
        st.log(0, "install command: %s\n", st.shown(st.reply()));
        return rc == 0 ? IO_BAD_FILE : IO_UPDATE_ERR;
      case 2:
        if (const int q = yes.next()) return q;
        st.write("yes\r");
        break;
      case 3: st.log(1, "install command succeeded\n"); return 0;
      default: break;  // progress
    }
  }
}

// Works out the name the package installed under, or leaves it empty.
void expectImage(Stage& st, const char* filename) {
  TopspinState& s = st.run.state<TopspinState>();
  const int rc = expectedImage(filename, s.expected.data(), s.expected.size());
  if (rc == SREGEX_MATCH) {
    st.log(2, "new image (Primary)=%s\n", st.shown(s.expected.data()));
  } else {
    st.log(0, "error=%d (%s) matching filename=%s - using alternate image name\n", rc, sregex_error_text(rc),
           st.shown(filename));
  }
}

// Reads the whole image listing and chooses the image to boot: the expected
// one if it is listed, otherwise the first listed that is not the current
// primary image. IO_UPDATE_ERR when there is none.
int chooseImage(Stage& st) {
  TopspinState& s = st.run.state<TopspinState>();
  const std::string_view expected = s.expected.data();
  const std::string_view primary = s.primary.data();
  bool expectedListed = false;
  Name other{};
  st.write("dir image\r");
  LoopLimit lim(st, exp_dirimg2.name, LISTING_LIMIT_SECS);
  for (bool listing = true; listing;) {
    if (const int rc = lim.check()) return rc;
    const int rc = st.wait(exp_dirimg2, WAIT_SECS);
    if (rc < 0) return rc;
    if (rc == 1) break;
    const std::string_view name = firstWord(st.reply());
    if (!expected.empty() && name == expected) {
      expectedListed = true;
    } else if (other[0] == '\0' && name != primary && !copyWhole(name, other)) {
      st.log(0, "image name too long to choose: %s\n", st.shown(st.reply()));
    }
    listing = !endsAtPrompt(st.reply());
  }
  if (expectedListed) {
    copyWhole(expected, s.chosen);
  } else {
    copyWhole(other.data(), s.chosen);
  }
  if (s.chosen[0] == '\0') {
    st.log(0, "no image to boot: the listing names no new image\n");
    return IO_UPDATE_ERR;
  }
  st.log(1, "new image is %s\n", st.shown(s.chosen.data()));
  return 0;
}

// Makes the chosen image the primary image source and leaves configuration mode.
int setBootImage(Stage& st) {
  if (const int rc = promptAfter(st, "config\r"); rc != 0) {
    st.log(0, "%s\n", "config command failed");
    return rc;
  }
  const int rc = st.exchange(exp_bconfig, st.cmdf(kBootConfig, st.run.state<TopspinState>().chosen.data()), WAIT_SECS);
  if (rc < 0) return rc;
  if (rc == 0) {
    st.log(0, "boot-config: %s\n", st.shown(st.reply()));
    return IO_UPDATE_ERR;
  }
  return promptAfter(st, "exit\r");
}

int update(Stage& st) {
  UrlPieces u;
  u.read(st.run.req.fileurl);  // the parameter check has judged the URL
  st.log(2, "fileurl=%s\n", u.shown.data());
  st.run.text.clear();  // a failed update quotes only this dialogue
  st.run.state<TopspinState>() = TopspinState{};
  const char* filename = u.filename.data();

  if (const int rc = deleteOldPackage(st); rc != 0) return rc;
  if (const int rc = copyPackage(st, u); rc != 0) return rc;
  st.log(1, "copy command succeeded\n");
  if (const int rc = readPrimary(st); rc != 0) return rc;
  if (const int rc = install(st, filename); rc != 0) return rc;
  if (const int rc = deleteFile(st, exp_delete, filename); rc != 0) return rc;
  st.log(1, "delete image command succeeded\n");
  expectImage(st, filename);
  if (const int rc = chooseImage(st); rc != 0) return rc;
  if (const int rc = setBootImage(st); rc != 0) return rc;
  st.log(0, "Update succeeded %s\n", u.shown.data());
  st.log(2, "return SUCCESS\n");
  return 0;
}

// --- Reboot -----------------------------------------------------------------------------

int reboot(Stage& st) {
  st.log(1, "Resetting/rebooting switch\n");
  if (const int w = st.write("reload no-failover\r"); w < 0) return IO_CONN_ERR;
  LoopLimit lim(st, exp_reload.name, RELOAD_LIMIT_SECS);
  AnswerLimit save(st, exp_reload.name, MAX_YES, IO_UPDATE_ERR);
  for (;;) {
    if (const int rc = lim.check()) return rc;
    const int rc = st.wait(exp_reload, WAIT_SECS);
    if (rc < 0) return rc;
    if (rc == 0) {
      st.log(0, "reload: %s\n", st.shown(st.reply()));
      return IO_UPDATE_ERR;
    }
    if (rc == 1) {
      if (const int q = save.next()) return q;
      st.write("yes\r");
      continue;
    }
    st.write("yes\r");
    st.log(2, "return SUCCESS\n");
    return 0;
  }
}

constexpr Family kTopspin = {
    .module = "topspinflash",
    .display = "Topspin",
    .target = "Topspin switch",
    .params = {.schemes = URL_SCHEME_FTP | URL_SCHEME_TFTP,
               .plainTypedParts = true,
               .plainPassword = true,
               .urlRule = urlRule},
    .login = login,
    .logConfigInfo = logConfigInfo,
    .update = update,
    .reboot = reboot,
};

}  // namespace
}  // namespace modburn

int topspinflash(const SwitchRequest* req, char* errText, int errTextSize) {
  return modburn::run_module(modburn::kTopspin, req, errText, errTextSize);
}
