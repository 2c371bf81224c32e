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
//   deletes                 10 minutes each
//   image listings          300 entries or 10 minutes, then taken as read
//   logConfigInfo listings  300 lines or 5 minutes each, at most 100 pages
//   ping                    300 lines or 2 minutes
//   reload                  5 minutes
//   "yes" answers           5 per question and loop
#include <array>
#include <chrono>
#include <cstring>
#include <string_view>

#include "com/sregex.h"
#include "com/timescale.h"
#include "core/iostatus.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "switches/topspin_text.h"
#include "url/url.h"

namespace modburn {
namespace {

using topspin::copyWhole;
using topspin::endsAtPrompt;
using topspin::firstWord;
using topspin::Name;

// --- Commands and limits ------------------------------------------------------

constexpr const char* kCopy = "copy %s image:%s\r";
constexpr const char* kDelete = "delete image:%s\r";
constexpr const char* kInstall = "install image:%s\r";
constexpr const char* kBootConfig = "boot-config primary-image-source %s\r";
constexpr const char* kPing = "ping %s\r";
constexpr std::size_t kCommandSize = 200;  // commands of at most 199 characters
constexpr std::size_t kPingSize = 100;     // the ping command: at most 99 characters

constexpr int COPY_WAIT_SECS = 30;
constexpr int PING_WAIT_SECS = 5;
constexpr int COPY_LIMIT_SECS = 2 * 3600;
constexpr int INSTALL_LIMIT_SECS = 3600;
constexpr int DELETE_LIMIT_SECS = 600;
constexpr int LISTING_LIMIT_SECS = 600;
constexpr int INFO_LIMIT_SECS = kListingSecs;
constexpr int INFO_MAX_PAGES = 100;
constexpr int PING_LIMIT_SECS = 120;
constexpr int RELOAD_LIMIT_SECS = 300;
constexpr int MAX_YES = 5;
constexpr int INFO_RESPONSE = 100;
constexpr int PING_RESPONSE = 200;

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

constexpr auto exp_user1 = table("exp_user1", finish("login", 0), firewall());
constexpr auto exp_pw = table("exp_pw", finish("Password", 0));

// The prompt that follows the declined password change.
constexpr auto exp_anyprompt = table("exp_prompt", finish(".*# $", 0), finish(".*> $", 0));
int declined(Stage& st) {
  if (endsAtPrompt(st.reply()) || endsAtPrompt(st.reply(), "> ")) return 0;
  return st.follow(exp_anyprompt, {});
}
constexpr auto exp_pwnoch = table("exp_pwnoch", call<declined>("Password was not changed.*"));
int declineChange(Stage& st) { return st.follow(exp_pwnoch, {.type = "no\r", .expected = 0}); }

constexpr auto exp_prompt_login = table("exp_prompt",
                                        finish(".*# $", 0),
                                        finish(".*> $", 0),
                                        finish(".*login", IO_BAD_SWITCH_LOGIN)
                                            .logs(0, "exp_prompt: got Invalid login/password\n"),
                                        call<declineChange>("Change your password"));
// Privileged mode: only its prompt will do.
constexpr auto exp_enable = table("exp_prompt",
                                  finish(".*# $", 0),
                                  finish(".*> $", IO_CONN_ERR),
                                  finish(".*login", IO_CONN_ERR),
                                  finish("Change your password", IO_CONN_ERR));

constexpr LoginStep kLogin[] = {
    {.rows = exp_user1, .reached = "have Username prompt\n"},
    {.rows = exp_pw, .typed = Typed::User, .expected = 0, .reached = "have Password prompt\n"},
    {.rows = exp_prompt_login, .typed = Typed::Password},
};

int login(Stage& st) {
  if (const int rc = login_steps(st, kLogin); rc != 0) return rc;
  return st.follow(exp_enable, {.type = "enable\r", .expected = 0});
}

// --- Versions ------------------------------------------------------------------------

constexpr auto exp_showboot2 = table("exp_showboot2",
                                     finish(".*> $", 0),
                                     finish(".*# $", 0),
                                     version("sw-version :.*", "Active FW Version"),
                                     version("primary-image-source :.*", "Flash Partition Version"));
// The card inventory pages: each page is turned with a line end.
constexpr auto exp_showcard = table("exp_showcard",
                                    finish(".*> $", 0),
                                    finish(".*# $", 0),
                                    version("image :.*", "Flash Partition Version"),
                                    answer("Press any key.*", "\r").times(INFO_MAX_PAGES, IO_TIMEOUT, "exp_showcard"));

// A listing that fails or runs out is logged and leaves the login as it is.
int logConfigInfo(Stage& st) {
  const Wait listing = {.limit = INFO_LIMIT_SECS, .lines = kListingLines, .keep = INFO_RESPONSE};
  Wait w = listing;
  w.type = "show boot-config\r";
  st.follow(exp_showboot2, w);
  w.type = "show card-inventory\r";
  st.follow(exp_showcard, w);
  return 0;
}

// --- Update -------------------------------------------------------------------------------

// The update stage waits for the privileged prompt alone: a login table would
// take a "Last login" line for an answer.
constexpr auto exp_prompt = table("exp_prompt", finish(".*# $", 0));

// After a match that runs to the end of its line: done when the prompt ends
// that line, otherwise the prompt is read next.
int toPrompt(Stage& st) { return endsAtPrompt(st.reply()) ? 0 : st.follow(exp_prompt, {.expected = 0}); }

// A listing that the update reads to its prompt. One that does not end (a
// switch that keeps listing) is taken as read after kListingLines entries or
// LISTING_LIMIT_SECS seconds, whichever comes first, and the update goes on
// with what it listed.
struct Listing {
  const char* name;
  int entries = 0;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

  // Counts one more entry: true, with a line, once the listing has run long enough.
  bool enough(Stage& st) {
    if (++entries >= kListingLines) {
      st.log(0, "%s: no end after %d lines\n", name, kListingLines);
      return true;
    }
    const auto limit = std::chrono::microseconds(scaled_micros(LISTING_LIMIT_SECS * 1000000LL));
    if (std::chrono::steady_clock::now() - start < limit) return false;
    st.log(0, "%s: no end after %d seconds\n", name, LISTING_LIMIT_SECS);
    return true;
  }
};
// A listing's follow: its own limit stands behind the listing's.
constexpr Wait kListing = {.type = "dir image\r", .limit = 2 * LISTING_LIMIT_SECS};

// Deletes: the question and the prompt before progress, so that progress
// stars printed in front of either do not hide it.
constexpr Table<3> deleteTable(const char* name) {
  return table(name, answer("Delete file", "yes\r").times(MAX_YES, IO_UPDATE_ERR, name), finish(".*# $", 0),
               marks("\\*", '*'));
}
constexpr auto exp_delimg = deleteTable("exp_delimg");
constexpr auto exp_delete = deleteTable("exp_delete");

// Deletes one file of the image file system, answering its question, up to the prompt.
int deleteFile(Stage& st, const TableRef& exp, const char* filename) {
  return st.follow(exp, {.type = st.cmdf(kDelete, filename), .limit = DELETE_LIMIT_SECS});
}

// The first package file of the first listing.
struct OldPackage {
  Listing listing{"exp_dirimg1"};
  Name name{};
};

int packageListed(Stage& st, OldPackage& old) {
  std::array<char, 1000> name{};
  if (old.name[0] == '\0' && sregex_match("[\\S]+\\.img", st.reply(), 0, name.data(), name.size()) == SREGEX_MATCH &&
      !copyWhole(name.data(), old.name)) {
    st.log(0, "package name too long to delete: %s\n", st.shown(name.data()));
  }
  return endsAtPrompt(st.reply()) || old.listing.enough(st) ? 0 : kReadOn;
}

// Listings: the entry runs to the end of its line, so that a prompt printed
// on the same line ends the listing.
constexpr auto exp_dirimg1 = table("exp_dirimg1", call<packageListed>("[\\S]+\\.img.*"), finish(".*# $", 0));

// Lists the package files and deletes the first one listed, if any.
int deleteOldPackage(Stage& st) {
  OldPackage old;
  if (const int rc = st.follow(exp_dirimg1, kListing, old); rc != 0) return rc;
  if (old.name[0] == '\0') return 0;  // no package file listed
  st.log(1, "deleting old image: %s\n", st.shown(old.name.data()));
  if (const int rc = deleteFile(st, exp_delimg, old.name.data()); rc != 0) return rc;
  st.log(1, "deletion complete\n");
  return 0;
}

// What the ping has said: -1 no result line yet, 1 reachable, 0 not.
struct Ping {
  int reachable = -1;
};
template <int Reachable>
int pingResult(Stage&, Ping& p) {
  p.reachable = Reachable;
  return kReadOn;
}
int pingPrompt(Stage&, Ping& p) { return p.reachable >= 0 ? p.reachable : kReadOn; }

constexpr auto exp_ping = table("exp_ping",
                                call<pingResult<1>>("Success rate is 100 percent"),
                                call<pingResult<0>>("Success rate is .* percent"),
                                call<pingResult<0>>("unknown host"),
                                call<pingPrompt>(".*> $"),
                                call<pingPrompt>(".*# $"));

// Whether the switch can ping server: 1 or 0. Leaves the switch text alone.
int serverValid(Run& run, const char* server) {
  Stage st(run, "serverValid", run.req.targetip, run.req.targetip, 0);
  Ping ping;
  const int rc = st.follow(exp_ping,
                           {.type = st.cmdn(kPingSize, kPing, server),
                            .silence = PING_WAIT_SECS,
                            .limit = PING_LIMIT_SECS,
                            .lines = kListingLines,
                            .keep = PING_RESPONSE,
                            .quiet = true},
                           ping);
  return rc == 1 ? 1 : 0;
}

// What the copy has seen: its progress lines, and the URL whose server a
// failure without progress pings.
struct Copy {
  const UrlPieces& url;
  int progress = 0;
};

int copyProgress(Stage&, Copy& c) {
  ++c.progress;
  return kReadOn;
}

// The copy command's one failure message that says nothing of its cause.
int operationFailed(Stage& st, Copy& c) {
  if (c.progress <= 1) {
    return serverValid(st.run, c.url.server.data()) == 1 ? IO_FILE_NOT_FOUND : IO_SERVER_NOT_FOUND;
  }
  st.log(0, "copy command failed after partial download - Reason unknown\n");
  return IO_UPDATE_ERR;
}

constexpr const char* kCopyFailed = "copy command: %s\n";

// The echo of the command first: the URL it holds may contain "successfully",
// '*' or '%', which would pass for success or progress. Then the failures,
// then success (to the end of its line, where the prompt may follow), then the
// prompt (back before any success: the switch refused the command), then
// progress, so that a line of stars or a percentage in front of an error
// message cannot pass for progress. Any other line is kept for the error text.
constexpr auto exp_copy = table("exp_copy",
                                progress("^copy [\\S]+ image:[\\S]+[\\s]*$"),
                                finish("Error: FTP server not reachable", IO_SERVER_NOT_FOUND).logs(0, kCopyFailed),
                                finish("Error: Invalid image file name", IO_FILE_NOT_FOUND).logs(0, kCopyFailed),
                                finish("Error: Incorrect Username.*", IO_BAD_SERV_LOGIN).logs(0, kCopyFailed),
                                finish("Error: No Such file.*", IO_FILE_NOT_FOUND).logs(0, kCopyFailed),
                                call<operationFailed>("Error: Operation failed").logs(0, kCopyFailed),
                                finish("Error: .*", IO_UPDATE_ERR).logs(0, kCopyFailed),
                                call<toPrompt>(".*successfully.*"),
                                finish(".*# $", IO_UPDATE_ERR).logs(0, "copy command: back at the prompt: %s\n").unexplained(),
                                call<copyProgress>("\\*").reports(Measure::Marks, '*'),
                                call<copyProgress>(".*%.*").reports(Measure::Percent),
                                progress(".+"));

// Has the switch fetch the package and follows the copy to its end.
int copyPackage(Stage& st, const UrlPieces& u) {
  std::array<char, kCommandSize> shownCommand{};
  format_cut(shownCommand.data(), shownCommand.size(), kCopy, u.shown.data(), u.filename.data());
  st.log(1, "writing: \"%s\"\n", st.shown(shownCommand.data()));
  const char* cmd = st.cmdf(kCopy, st.run.req.fileurl, u.filename.data());
  Copy copy{u};
  return st.follow(exp_copy, {.type = cmd, .silence = COPY_WAIT_SECS, .limit = COPY_LIMIT_SECS}, copy);
}

// The primary image source of the boot configuration, up to the prompt.
int primaryRead(Stage& st, Name& primary) {
  const std::string_view name = topspin::primaryImage(st.reply());
  if (!copyWhole(name, primary)) copyWhole(name.substr(0, primary.size() - 1), primary);
  return toPrompt(st);
}

// An error first: "Error: primary-image-source ..." is not the image.
constexpr auto exp_showboot = table("exp_showboot",
                                    finish("Error: .*", IO_UPDATE_ERR).logs(0, "show boot-config: %s\n"),
                                    call<primaryRead>("primary-image-source.*"));

constexpr const char* kInstallFailed = "install command: %s\n";

// The echo of the command first (a file name may hold "Proceed" or
// "Error:"); then the errors and the question before the prompt, the prompt
// before progress.
constexpr auto exp_install = table("exp_install",
                                   progress("^install image:[\\S]+[\\s]*$"),
                                   finish("Error: Problem unpacking.*", IO_BAD_FILE).logs(0, kInstallFailed),
                                   finish("Error:.*", IO_UPDATE_ERR).logs(0, kInstallFailed),
                                   answer("Proceed.*", "yes\r").times(MAX_YES, IO_UPDATE_ERR, "exp_install"),
                                   finish(".*# $", 0).logs(1, "install command succeeded\n"),
                                   marks("\\*", '*'));

int install(Stage& st, const char* filename) {
  return st.follow(exp_install, {.type = st.cmdf(kInstall, filename), .limit = INSTALL_LIMIT_SECS});
}

// The name the package installed under, or empty.
Name expectImage(Stage& st, const char* filename) {
  Name expected{};
  const int rc = topspin::expectedImage(filename, expected.data(), expected.size());
  if (rc == SREGEX_MATCH) {
    st.log(2, "new image (Primary)=%s\n", st.shown(expected.data()));
  } else {
    st.log(0, "error=%d (%s) matching filename=%s - using alternate image name\n", rc, sregex_error_text(rc),
           st.shown(filename));
  }
  return expected;
}

// The image to boot: the expected one if it is listed, otherwise the first
// listed that is not the current primary image.
struct Choice {
  std::string_view expected;
  std::string_view primary;
  Listing listing{"exp_dirimg2"};
  bool expectedListed = false;
  Name other{};
};

int imageListed(Stage& st, Choice& c) {
  const std::string_view name = firstWord(st.reply());
  if (!c.expected.empty() && name == c.expected) {
    c.expectedListed = true;
  } else if (c.other[0] == '\0' && name != c.primary && !copyWhole(name, c.other)) {
    st.log(0, "image name too long to choose: %s\n", st.shown(st.reply()));
  }
  return endsAtPrompt(st.reply()) || c.listing.enough(st) ? 0 : kReadOn;
}

constexpr auto exp_dirimg2 = table("exp_dirimg2", call<imageListed>("[\\S]*/[\\S]*.*"), finish(".*# $", 0));

// Reads the whole image listing and chooses the image to boot into chosen.
// IO_UPDATE_ERR when there is none.
int chooseImage(Stage& st, const Name& expected, const Name& primary, Name& chosen) {
  Choice c{expected.data(), primary.data()};
  if (const int rc = st.follow(exp_dirimg2, kListing, c); rc != 0) return rc;
  copyWhole(c.expectedListed ? c.expected : std::string_view(c.other.data()), chosen);
  if (chosen[0] == '\0') {
    st.log(0, "no image to boot: the listing names no new image\n");
    return IO_UPDATE_ERR;
  }
  st.log(1, "new image is %s\n", st.shown(chosen.data()));
  return 0;
}

// An error printed in front of the prompt on one line is an error.
constexpr auto exp_bconfig = table("exp_bconfig", finish("Error:.*", IO_UPDATE_ERR).logs(0, "boot-config: %s\n"),
                                   finish(".*# $", 0));

// Makes the chosen image the primary image source and leaves configuration mode.
int setBootImage(Stage& st, const Name& chosen) {
  if (const int rc = st.follow(exp_prompt, {.type = "config\r", .expected = 0}); rc != 0) {
    st.log(0, "%s\n", "config command failed");
    return rc;
  }
  if (const int rc = st.follow(exp_bconfig, {.type = st.cmdf(kBootConfig, chosen.data())}); rc != 0) return rc;
  return st.follow(exp_prompt, {.type = "exit\r", .expected = 0});
}

int update(Stage& st) {
  const UrlPieces& u = st.run.url;
  const char* filename = u.filename.data();

  if (const int rc = deleteOldPackage(st); rc != 0) return rc;
  if (const int rc = copyPackage(st, u); rc != 0) return rc;
  st.log(1, "copy command succeeded\n");
  Name primary{};
  if (const int rc = st.follow(exp_showboot, {.type = "show boot-config\r"}, primary); rc != 0) return rc;
  if (const int rc = install(st, filename); rc != 0) return rc;
  if (const int rc = deleteFile(st, exp_delete, filename); rc != 0) return rc;
  st.log(1, "delete image command succeeded\n");
  const Name expected = expectImage(st, filename);
  Name chosen{};
  if (const int rc = chooseImage(st, expected, primary, chosen); rc != 0) return rc;
  if (const int rc = setBootImage(st, chosen); rc != 0) return rc;
  st.log(0, "Update succeeded %s\n", u.shown.data());
  st.log(2, "return SUCCESS\n");
  return 0;
}

// --- Reboot -----------------------------------------------------------------------------

int reloading(Stage& st) {
  if (const int rc = st.type("yes\r"); rc != 0) return rc;
  st.log(2, "return SUCCESS\n");
  return 0;
}

// An error is tried first: "Error: ... Proceed ..." is not a confirmation.
constexpr auto exp_reload = table("exp_reload",
                                  finish("Error.*", IO_UPDATE_ERR).logs(0, "reload: %s\n"),
                                  answer("Save.*", "yes\r").times(MAX_YES, IO_UPDATE_ERR, "exp_reload"),
                                  call<reloading>("Proceed.*"));

int reboot(Stage& st) {
  st.log(1, "Resetting/rebooting switch\n");
  return st.follow(exp_reload, {.type = "reload no-failover\r", .limit = RELOAD_LIMIT_SECS});
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
