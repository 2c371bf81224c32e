// ciscofcflash: Cisco Fibre Channel (storage) switch modules. The switch
// keeps a kickstart (boot) image and a system (OS) image as files on its
// bootflash. Logs in, records versions and boot variables, then either copies
// a new kickstart image onto bootflash, or copies a new system image and
// installs it with the kickstart image already there ("install all"). Old
// images of the same kind are deleted first so that bootflash has room. The
// switch fetches the file itself with "copy", asking for the server login.
//
// Limits of the loops that run while the switch keeps printing (each through
// the time seam): a bootflash listing or a version listing ends after
// 5 minutes or 300 lines, the copy after 2 hours (its waits are 120 s of
// silence each), the install after 1 hour (60 s per wait); each question of
// the copy (user name, password) is answered at most three times.
#include <array>
#include <string_view>

#include "com/sregex.h"
#include "com/timescale.h"
#include "core/iostatus.h"
#include "core/log.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace modburn {
namespace {

constexpr int LISTING_SECS = 300;
constexpr int COPY_SECS = 7200;
constexpr int INSTALL_SECS = 3600;
constexpr int COPY_WAIT_SECS = 120;
constexpr int INSTALL_WAIT_SECS = 60;
constexpr int MAX_COPY_ANSWERS = 3;
constexpr int RELOAD_PAUSE_MS = 2000;

// --- Login and versions ---------------------------------------------------------

// The family's own form of the line: the address runs into its words.
int loginPrompt(Stage& st) {
  if (st.debugLevel() >= 1) io_log("%s:connect:%shave login prompt\n", st.module(), st.address());
  return 0;
}

constexpr auto exp_user = table("exp_user", call<loginPrompt>(".*login"), firewall());
constexpr auto exp_pw = table("exp_pw",
                              finish("Password", 0),
                              finish("invalid", IO_BAD_SWITCH_LOGIN).logs(0, "invalid username\n"));
constexpr auto exp_prompt = table("exp_prompt",
                                  finish(".*#", 0),
                                  finish("Login incorrect", IO_BAD_SWITCH_LOGIN).logs(0, "Invalid username/password"));

constexpr LoginStep kLogin[] = {
    {.rows = exp_user, .expected = 0},
    {.rows = exp_pw, .typed = Typed::User, .lineEnd = "\r", .expected = 0, .reached = "have Password prompt\n"},
    {.rows = exp_prompt, .typed = Typed::Password, .lineEnd = "\r", .expected = 0},
};

int login(Stage& st) { return login_steps(st, kLogin); }

constexpr auto exp_showvers = table("exp_showvers",
                                    finish(".*#", 0),
                                    version("Cisco Storage.*", "Active FW Version"),
                                    version("BIOS: .*", "BIOS Version"),
                                    version("kickstart: .*", "Active Boot Version"),
                                    version("system: .*", "Active FW Version"),
                                    version("kickstart.*file.*", "Boot File Name"),
                                    version("system.*file.*", "FW File Name"),
                                    answer("--More--", " "));  // the pager: next page
// The boot variables: which images the switch boots.
constexpr auto exp_showboot = table("exp_showboot",
                                    finish(".*#", 0),
                                    progress("kickstart.*").logs(0, "%s\n"),
                                    progress("system.*").logs(0, "%s\n"));

// A listing that fails or runs out (a pager that pages for ever, a list that
// never ends) is logged and leaves the login as it is.
int logConfigInfo(Stage& st) {
  Wait w = {.limit = LISTING_SECS, .lines = kListingLines, .keep = 100};
  w.type = "show version\r";
  w.name = "show version";
  st.follow(exp_showvers, w);
  w.type = "show boot\r";
  w.name = "show boot";
  st.follow(exp_showboot, w);
  return 0;
}

// --- The URL ------------------------------------------------------------------------

constexpr const char* kCopy = "copy %s://%s/%s bootflash:%s\r";
constexpr std::size_t kCopySize = 200;
constexpr const char* kInstall = "install all kickstart bootflash:%s system bootflash:%s\r";
// A kickstart name (99 characters) and a file name short enough for the copy
// command always fit.
constexpr std::size_t kInstallSize = 256;

// What the update types besides the URL's own parts.
struct Download {
  const UrlPieces& u;
  std::array<char, 1100> authority{};   // server (IPv6 bracketed) and port
  std::array<char, 1100> serverPath{};  // directory/file name

  explicit Download(const UrlPieces& pieces) : u(pieces) {}

  // False when a part cannot be put together again.
  bool compose() {
    const char* port = u.port[0] != '\0' ? u.port.data() : nullptr;
    if (url_compose_authority(authority.data(), authority.size(), u.server.data(), port, nullptr, nullptr) == nullptr) {
      return false;
    }
    const bool inDir = u.directory[0] != '\0';
    return format_whole(serverPath.data(), serverPath.size(), inDir ? "%s/%s" : "%s%s", u.directory.data(),
                        u.filename.data());
  }

  const char* copyCommand(Stage& st) const {
    return st.cmdf(kCopy, u.scheme.data(), authority.data(), serverPath.data(), u.filename.data());
  }
};

// True when the directory or the file name says "kickstart", in any case.
bool namesKickstart(const UrlPieces& u) {
  for (const auto* part : {&u.directory, &u.filename}) {
    if (part->front() != '\0' && sregex_match("kickstart", part->data(), SREGEX_ICASE, nullptr, 0) > 0) return true;
  }
  return false;
}

// An FTP URL names its user ("anonymous" included); every part can be taken,
// the file name is not empty, and the copy command and the answers to its
// login questions fit whole.
int urlRule(const char* fileurl) {
  if (const int rc = ftp_url_needs_login(fileurl); rc != 0) return rc;
  UrlPieces u;
  if (u.read(fileurl) != URL_OK || u.filename[0] == '\0') return IO_INV_URL_SYNTAX;
  Download d(u);
  if (!d.compose() ||
      !fits(kCopySize, kCopy, u.scheme.data(), d.authority.data(), d.serverPath.data(), u.filename.data())) {
    return IO_INV_URL_SYNTAX;
  }
  if (!fits(200, "%s\r", u.login.data()) || !fits(200, "%s\r", server_password(u))) return IO_INV_URL_LOGIN;
  return 0;
}

// --- Trying the file as an image of one kind ---------------------------------------

// File names of the listing, each at most 99 characters.
using FileName = std::array<char, 100>;
constexpr std::size_t kMaxDeletes = 10;

struct Kind;

// One try of the file as an image of one kind: what its steps share.
struct Try {
  Stage& up;  // the update stage: the lines of the listing and the copy
  const Kind& kind;
  const Download& d;
  FileName kickstart{};
  std::array<FileName, kMaxDeletes> deletable{};
  std::size_t count = 0;
  bool copyRan = false;  // a spinner frame or a message of a copy that ran seen
};

struct Kind {
  const char* stage;    // "tryOS": the generic lines and the kind's own
  const char* urlWord;  // "os_url"
  const char* word;     // "OS": the line of a successful copy message, the success line
  const char* notKind;  // "an OS image file"
  TableRef cd, dir, del, copy;
  bool install;  // the OS image is installed with the listed kickstart image
};

// Types text from a row and reads on, or fails with the write's failure.
int typeOn(Stage& st, const char* text) {
  const int rc = st.type(text);
  return rc != 0 ? rc : kReadOn;
}

int cdRefused(Stage& st, Try& t) {
  t.up.log(2, "%s\n", st.shown(st.reply()));
  return IO_UPDATE_ERR;
}

// The failures stand first: one printed right before the prompt arrives with
// it on one line and must not read as a changed directory.
constexpr auto cdTable(const char* name) {
  return table(name, call<cdRefused>("Invalid directory"), call<cdRefused>("% invalid parameter"), finish(".*#", 0));
}
constexpr int kCdDone = 2;

// Copies a listed name into out when it fits whole and may be typed; a name
// that would be cut could be another file's.
bool takeName(Stage& up, const char* name, FileName& out) {
  if (!plain_text(name) || !format_whole(out.data(), out.size(), "%s", name)) {
    up.log(0, "Skipping file name: not usable in a command: %s\n", up.shown(name));
    return false;
  }
  return true;
}

int kickstartListed(Stage& st, Try& t) {
  FileName name{};
  if (takeName(t.up, st.reply(), name)) {
    t.kickstart = name;
    t.up.log(2, "Found Kickstart File: %s\n", t.kickstart.data());
  }
  return kReadOn;
}

int deletableListed(Stage& st, Try& t) {
  t.up.log(2, "Found Deletable File: %s\n", st.shown(st.reply()));
  if (t.count < kMaxDeletes && takeName(t.up, st.reply(), t.deletable[t.count])) ++t.count;
  return kReadOn;
}

// A prompt alone at the end of its line ("sim# "): never a listed name, a
// progress bar ("[####", "[####] 100%") or the echo of a typed login or file
// name that holds a "#".
constexpr const char* kPromptAlone = ".*[\\w]#[ ]*\\Z";

constexpr const char* kKickstartFile = "[\\S]+-kickstart-mz[g]?\\.[\\S]+\\.bin(\\.[\\w]+)?";
constexpr const char* kSystemFile = "[\\S]+-mz[g]?\\.[\\S]+\\.bin(\\.[\\w]+)?";
constexpr const char* kPluginFile = ".*dplug.*\\.bin";
constexpr const char* kLineCardBoot = "lc3_boot.nbi";

// A system image keeps the listed kickstart image and deletes the other
// system images and the line-card boot file; a kickstart image deletes the
// kickstart images and the line-card boot file.
constexpr auto exp_osdir = table("exp_osdir",
                                 finish(kPromptAlone, 0),
                                 call<kickstartListed>(kKickstartFile),
                                 progress(kPluginFile),
                                 call<deletableListed>(kLineCardBoot),
                                 call<deletableListed>(kSystemFile));
constexpr auto exp_bootdir = table("exp_bootdir",
                                   finish(kPromptAlone, 0),
                                   call<deletableListed>(kKickstartFile),
                                   call<deletableListed>(kLineCardBoot),
                                   progress(kPluginFile),
                                   progress(kSystemFile));

// The echo of the delete stands first: a listed name may hold a "#".
constexpr auto deleteTable(const char* name) { return table(name, progress("^delete "), finish(".*#", 0)); }

template <int Code>
int copyFailed(Stage& st, Try& t) {
  t.up.log(0, "Copy failed: %s\n", st.shown(st.reply()));
  return Code;
}

int copyUser(Stage& st, Try& t) { return typeOn(st, st.cmdf("%s\r", t.d.u.login.data())); }
int copyPassword(Stage& st, Try& t) { return typeOn(st, st.cmdf("%s\r", server_password(t.d.u))); }

int copySucceeded(Stage& st, Try& t);

int copyRunning(Stage&, Try& t) {
  t.copyRan = true;
  return kReadOn;
}

// The prompt ends the copy. Back before any sign that the copy ran (a frame
// of its spinner, on an earlier line or on the prompt's own line, "Copy
// complete" or a success message), the switch refused the command: a
// failure, not a copied image.
int copyEnded(Stage& st, Try& t) {
  const std::string_view line = st.reply();
  if (t.copyRan || line.find('\b') != line.npos || line.find("Copy complete") != line.npos) return 0;
  t.up.log(0, "Copy failed: the prompt came back before the copy ran: %s\n", st.shown(st.reply()));
  return IO_UPDATE_ERR;
}

// The copy's messages. The echo of the command stands first: only the
// switch's own words may decide. The failures stand before the prompt (a
// failure printed right before it arrives on the same line); the spinner
// stands after them: its frames carry no line end, so a message or the prompt
// that follows them joins their line and must still be recognised. The
// switch's other messages ("% ...") stand last, kept for the error text.
constexpr auto copyTable(const char* name) {
  return table(name,
               progress("^copy "),
               call<copyFailed<IO_FILE_NOT_FOUND>>(".*File not found"),
               call<copyFailed<IO_FILE_NOT_FOUND>>(".*No such file or directory"),
               call<copyFailed<IO_SERVER_NOT_FOUND>>(".*name resolution"),
               call<copyFailed<IO_SERVER_NOT_FOUND>>(".*Connection refused"),
               call<copyFailed<IO_SERVER_NOT_FOUND>>(".*Could not connect.*"),
               call<copyFailed<IO_SERVER_NOT_FOUND>>(".*Invalid argument.*"),
               call<copyFailed<IO_SERVER_NOT_FOUND>>(".*Permission denied"),
               call<copyFailed<IO_SERVER_NOT_FOUND>>(".*Network is unreachable"),
               call<copyFailed<IO_FILE_NOT_FOUND>>(".*operation failed.*"),
               call<copyFailed<IO_FILE_NOT_FOUND>>("Failed to open file"),
               call<copyFailed<IO_BAD_SERV_LOGIN>>("Authentication failed"),
               call<copyEnded>(kPromptAlone).unexplained(),
               call<copyUser>("Enter username:").times(MAX_COPY_ANSWERS, IO_BAD_SERV_LOGIN, "copy user name"),
               call<copyPassword>("Password:").times(MAX_COPY_ANSWERS, IO_BAD_SERV_LOGIN, "copy password"),
               call<copySucceeded>(".*operation was successful"),
               call<copyRunning>("\b[-\\|/]"),  // the spinner
               call<copyRunning>("Copy complete"),
               progress("^%.*"));
}

// The outcomes stand first, then the prompt (back before any outcome, the
// switch refused the install), then the question: a line that also carries a
// progress word must still end the install or be answered. The switch's
// other messages ("% ...") come next, kept for the error text; a step's bar
// ("[####] 100% -- SUCCESS") last, told as progress but not kept: a run of
// bars would crowd a failure out of the error text.
constexpr auto exp_osinstall = table("exp_osinstall",
                                     finish("Install has been successful", 0),
                                     finish("Rebooting the switch.*", IO_SUCCESS_STOP).logs(2, "switch auto-reboots\n"),
                                     finish("Compatibility check failed.*", IO_BAD_FILE),  // not an OS image
                                     finish(kPromptAlone, IO_UPDATE_ERR)
                                         .logs(0, "install: the prompt came back before the install ended: \"%s\"\n")
                                         .unexplained(),
                                     answer("continue with the installation.*", "y\r"),
                                     progress("Verifying image .*"),
                                     progress("Extracting .*"),
                                     progress("Compatibility check is done.*"),
                                     progress("Images will be upgraded .*"),
                                     progress("Install is in progress"),
                                     progress("Notifying.*"),
                                     progress("Setting.*"),
                                     progress("Performing.*"),
                                     progress("Freeing.*"),
                                     progress("Loading.*"),
                                     progress("Saving.*"),
                                     progress("Module [0-9]+: .*"),
                                     progress("^%.*"),
                                     percent("[\\d][ ]*%").unquoted());

constexpr auto exp_oscd = cdTable("exp_oscd");
constexpr auto exp_bootcd = cdTable("exp_bootcd");
constexpr auto exp_osdelete = deleteTable("exp_osdelete");
constexpr auto exp_bootdelete = deleteTable("exp_bootdelete");
constexpr auto exp_oscopy = copyTable("exp_oscopy");
constexpr auto exp_bootcopy = copyTable("exp_bootcopy");

constexpr Kind kOs = {"tryOS", "os_url", "OS", "an OS image file", exp_oscd, exp_osdir, exp_osdelete, exp_oscopy, true};
constexpr Kind kBoot = {"tryBoot",      "boot_url", "Boot",       "a Boot image file", exp_bootcd,
                        exp_bootdir, exp_bootdelete, exp_bootcopy, false};

int copySucceeded(Stage& st, Try& t) {
  t.copyRan = true;
  t.up.log(1, "%s: %s\n", t.kind.word, st.shown(st.reply()));
  return kReadOn;
}

// Installs the copied system image with the listed kickstart image: 0, or
// IO_SUCCESS_STOP when the switch resets itself.
int install(Stage& st, const Try& t) {
  const char* cmd = st.cmdn(kInstallSize, kInstall, t.kickstart.data(), t.d.u.filename.data());
  return st.follow(exp_osinstall,
                   {.type = cmd, .silence = INSTALL_WAIT_SECS, .limit = INSTALL_SECS, .name = "install"});
}

// Tries the file as an image of kind k: 0 or IO_SUCCESS_STOP for success,
// IO_BAD_FILE when the switch refused it as such an image. A fallback (the
// file was refused as the other kind) deletes nothing: a file the switch has
// just refused must not cost the images already there.
int tryImage(Stage& up, const Kind& k, const Download& d, bool fallback) {
  Stage st(up.run, k.stage);
  st.log(2, "%s=%s\n", k.urlWord, d.u.shown.data());
  st.run.text.clear();

  Try t{.up = up, .kind = k, .d = d};
  if (const int rc = st.follow(k.cd, {.type = "cd bootflash:\r", .expected = kCdDone}, t); rc != 0) return rc;
  // A listing that does not end fails the try: nothing is deleted on the
  // strength of part of a listing.
  const Wait listing = {.type = "dir\r", .limit = LISTING_SECS, .name = "dir listing", .lines = kListingLines};
  if (const int rc = st.follow(k.dir, listing, t); rc != 0) return rc;
  if (k.install) {
    if (t.kickstart[0] == '\0') {
      up.log(0, "No kickstart image on bootflash: nothing deleted, no copy\n");
      return IO_UPDATE_ERR;
    }
    if (!fits(kInstallSize, kInstall, t.kickstart.data(), d.u.filename.data())) {
      up.log(0, "The install command would not fit: nothing deleted, no copy\n");
      return IO_UPDATE_ERR;
    }
  }

  if (fallback) {
    up.log(1, "Deleting nothing: the file was refused as the other image kind\n");
  } else {
    for (std::size_t i = 0; i < t.count; ++i) {
      up.log(2, "Deleting: %s\n", t.deletable[i].data());
      if (const int rc = st.follow(k.del, {.type = st.cmdf("delete %s\r", t.deletable[i].data())}); rc != 0) {
        return rc;
      }
    }
  }

  const Wait copying = {.type = d.copyCommand(st), .silence = COPY_WAIT_SECS, .limit = COPY_SECS, .name = "copy"};
  if (const int rc = st.follow(k.copy, copying, t); rc != 0) return rc;
  if (!k.install) {
    st.log(0, "Boot firmware successfully updated: %s\n", d.serverPath.data());
    st.log(2, "return SUCCESS\n");
    return IO_SUCCESS_STOP;
  }
  const int rc = install(st, t);
  if (rc < 0) return rc;
  st.log(1, "OS File appears valid\n");
  st.log(0, "OS firmware successfully updated: %s\n", d.serverPath.data());
  st.log(2, "return SUCCESS\n");
  return rc;
}

constexpr auto exp_getprompt = table("exp_prompt", finish(".*#", 0));

int update(Stage& st) {
  Download d(st.run.url);
  d.compose();  // the parameter check has judged the URL
  const char* shownUrl = d.u.shown.data();

  const Kind& first = namesKickstart(d.u) ? kBoot : kOs;
  const Kind& second = &first == &kBoot ? kOs : kBoot;
  const Kind* tried = &first;
  int rc = tryImage(st, first, d, false);
  if (rc == IO_BAD_FILE) {
    st.log(0, "fileurl=%s is not %s\n", shownUrl, first.notKind);
    if (const int p = get_prompt(st.run, exp_getprompt, 60); p != 0) return p;
    tried = &second;
    rc = tryImage(st, second, d, true);
    if (rc == IO_BAD_FILE) {
      st.log(0, "fileurl=%s is not %s, either\n", shownUrl, second.notKind);
      return rc;
    }
  }
  if (rc < 0) {
    st.log(0, "Error downloading file=%s: %s\n", shownUrl, err2String(rc));
    return rc;
  }
  st.log(1, "fileurl=%s succesfully downloaded as %s Image file\n", shownUrl, tried->word);
  st.log(0, "Update succeeded %s\n", shownUrl);
  return rc;
}

constexpr auto exp_reload = table("exp_reload", finish("reboot the system\\. (y/n)?", 0));

int reboot(Stage& st) {
  st.log(1, "Resetting/rebooting switch\n");
  if (const int rc = st.follow(exp_reload, {.type = "reload\r", .expected = 0}); rc != 0) return rc;
  if (const int rc = st.type("y\r"); rc != 0) return rc;
  sleep_ms(RELOAD_PAUSE_MS);
  return IO_SUCCESS;
}

constexpr Family kCiscoFc = {
    .module = "ciscofcflash",
    .display = "CiscoFC",
    .target = "Cisco FC switch",
    .params = {.schemes = URL_SCHEME_FTP | URL_SCHEME_TFTP, .plainTypedParts = true, .urlRule = urlRule},
    .login = login,
    .logConfigInfo = logConfigInfo,
    .update = update,
    .reboot = reboot,
    .loggedIn = "Login complete - have prompt",
    .responseSize = 5000,
};

}  // namespace
}  // namespace modburn

int ciscofcflash(const SwitchRequest* req, char* errText, int errTextSize) {
  return modburn::run_module(modburn::kCiscoFc, req, errText, errTextSize);
}
