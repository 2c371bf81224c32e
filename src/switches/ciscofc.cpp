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
// 5 minutes, the copy after 2 hours (its waits are 120 s of silence each), the
// install after 1 hour (60 s per wait); each question of the copy (user name,
// password) is answered at most three times.
#include <array>
#include <cstring>
#include <string_view>

#include "com/sregex.h"
#include "com/timescale.h"
#include "core/exchange.h"
#include "core/iostatus.h"
#include "core/log.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace modburn {
namespace {

// Given as the password of an anonymous FTP login that has none.
constexpr const char* kAnonymousId = "modburn@localhost";

constexpr int LISTING_SECS = 300;
constexpr int COPY_SECS = 7200;
constexpr int INSTALL_SECS = 3600;
constexpr int COPY_WAIT_SECS = 120;
constexpr int INSTALL_WAIT_SECS = 60;
constexpr int MAX_COPY_ANSWERS = 3;
constexpr int RELOAD_PAUSE_MS = 2000;

// --- Login and versions ---------------------------------------------------------

constexpr auto exp_user = expect("exp_user", ".*login", ".*Firewall.*");
constexpr auto exp_pw = expect("exp_pw", "Password", "invalid");
constexpr auto exp_prompt = expect("exp_prompt", ".*#", "Login incorrect");
constexpr auto exp_showvers = expect("exp_showvers", ".*#", "Cisco Storage.*", "BIOS: .*", "kickstart: .*",
                                     "system: .*", "kickstart.*file.*", "system.*file.*", "--More--");
constexpr auto exp_showboot = expect("exp_showboot", ".*#", "kickstart.*", "system.*");

int login(Stage& st) {
  const SwitchRequest& req = st.run.req;
  int rc = st.wait(exp_user, 10, 0);
  if (rc < 0) return rc;
  if (rc == 1) {
    st.log(0, "PROBABLE FIREWALL INTERCEPT - NEED TO AUTHENTICATE\n");
    return IO_CONN_ERR;
  }
  if (req.debugLevel >= 1) io_log("%s:connect:%shave login prompt\n", st.module(), st.address());

  rc = st.exchange(exp_pw, st.cmdf("%s\r", req.user), 10, 0);
  if (rc < 0) return rc;
  if (rc == 1) {
    st.log(0, "invalid username\n");
    return IO_BAD_SWITCH_LOGIN;
  }
  st.log(1, "have Password prompt\n");

  rc = st.exchange(exp_prompt, st.cmdf("%s\r", req.password), 10, 0);
  if (rc < 0) return rc;
  if (rc == 1) {
    st.log(0, "Invalid username/password");
    return IO_BAD_SWITCH_LOGIN;
  }
  return 0;
}

int logConfigInfo(Stage& st) {
  static constexpr const char* kLabels[] = {nullptr,           "Active FW Version", "BIOS Version",
                                            "Active Boot Version", "Active FW Version", "Boot File Name",
                                            "FW File Name"};
  st.write("show version\r");
  LoopLimit versions(st, "show version", LISTING_SECS);
  for (;;) {
    if (versions.check() != 0) break;
    const int rc = st.wait(exp_showvers, 10, -1, 100);
    if (rc <= 0) break;  // the prompt, or a failure already logged
    if (rc == 7) {
      st.write(" ");  // the pager: next page
    } else {
      st.log(0, "%s: %s\n", kLabels[rc], st.reply());
    }
  }
  st.write("show boot\r");
  LoopLimit boot(st, "show boot", LISTING_SECS);
  for (;;) {
    if (boot.check() != 0) break;
    const int rc = st.wait(exp_showboot, 10, -1, 100);
    if (rc <= 0) break;
    st.log(0, "%s\n", st.reply());
  }
  return 0;
}

// --- The URL ------------------------------------------------------------------------

constexpr const char* kCopy = "copy %s://%s/%s bootflash:%s\r";
constexpr std::size_t kCopySize = 200;
constexpr const char* kInstall = "install all kickstart bootflash:%s system bootflash:%s\r";
// A kickstart name (99 characters) and a file name short enough for the copy
// command always fit.
constexpr std::size_t kInstallSize = 256;

// What the update types, taken from the URL.
struct Download {
  UrlPieces u;
  std::array<char, 1100> authority{};   // server (IPv6 bracketed) and port
  std::array<char, 1100> serverPath{};  // directory/file name
  const char* password = "";            // the answer to the copy's password prompt

  // URL_OK when every part could be taken and put together again.
  int read(const char* fileurl) {
    if (const int rc = u.read(fileurl); rc != URL_OK) return rc;
    const char* port = u.port[0] != '\0' ? u.port.data() : nullptr;
    if (url_compose_authority(authority.data(), authority.size(), u.server.data(), port, nullptr, nullptr) == nullptr) {
      return URL_BAD_SERVER;
    }
    const bool inDir = u.directory[0] != '\0';
    if (!format_whole(serverPath.data(), serverPath.size(), inDir ? "%s/%s" : "%s%s", u.directory.data(),
                      u.filename.data())) {
      return URL_BAD_PATH;
    }
    const bool anonymous = std::strncmp(u.login.data(), "anonymous", 50) == 0;
    password = anonymous && u.password[0] == '\0' ? kAnonymousId : u.password.data();
    return URL_OK;
  }

  // True when the directory or the file name says "kickstart", in any case.
  bool namesKickstart() const {
    for (const auto* part : {&u.directory, &u.filename}) {
      if (part->front() != '\0' && sregex_match("kickstart", part->data(), SREGEX_ICASE, nullptr, 0) > 0) {
        return true;
      }
    }
    return false;
  }
};

// An FTP URL names its user ("anonymous" included); every part can be taken,
// the file name is not empty, and the copy command and the answers to its
// login questions fit whole.
int urlRule(const char* fileurl) {
  if (const int rc = ftp_url_needs_login(fileurl); rc != 0) return rc;
  Download d;
  if (d.read(fileurl) != URL_OK || d.u.filename[0] == '\0') return IO_INV_URL_SYNTAX;
  if (!fits(kCopySize, kCopy, d.u.scheme.data(), d.authority.data(), d.serverPath.data(), d.u.filename.data())) {
    return IO_INV_URL_SYNTAX;
  }
  if (!fits(200, "%s\r", d.u.login.data()) || !fits(200, "%s\r", d.password)) return IO_INV_URL_LOGIN;
  return 0;
}

// --- Trying the file as an image of one kind ---------------------------------------

// What a line of the bootflash listing is to an image kind.
enum Role : unsigned char { kEnd, kKickstart, kDeletable, kIgnored };

constexpr auto cdArray(const char* name) {
  // The failures stand first: one printed right before the prompt arrives
  // with it on one line and must not read as a changed directory.
  return expect(name, "Invalid directory", "% invalid parameter", ".*#");
}
constexpr int kCdDone = 2;

constexpr auto exp_osdir = expect("exp_osdir", ".*#", "[\\S]+-kickstart-mz[g]?\\.[\\S]+\\.bin(\\.[\\w]+)?",
                                  ".*dplug.*\\.bin", "lc3_boot.nbi", "[\\S]+-mz[g]?\\.[\\S]+\\.bin(\\.[\\w]+)?");
constexpr auto exp_bootdir = expect("exp_bootdir", ".*#", "[\\S]+-kickstart-mz[g]?\\.[\\S]+\\.bin(\\.[\\w]+)?",
                                    "lc3_boot.nbi", ".*dplug.*\\.bin", "[\\S]+-mz[g]?\\.[\\S]+\\.bin(\\.[\\w]+)?");
constexpr std::array<Role, 5> kOsRoles = {kEnd, kKickstart, kIgnored, kDeletable, kDeletable};
constexpr std::array<Role, 5> kBootRoles = {kEnd, kDeletable, kDeletable, kIgnored, kIgnored};

constexpr auto deleteArray(const char* name) { return expect(name, ".*#"); }

// The copy's messages. The failures stand before the prompt (a failure
// printed right before it arrives on the same line); the spinner stands last:
// its frames carry no line end, so a message or the prompt that follows them
// joins their line and must still be recognised.
constexpr auto copyArray(const char* name) {
  return expect(name,
                ".*File not found",             // 0..10 failures, codes below
                ".*No such file or directory",  //
                ".*name resolution",            //
                ".*Connection refused",         //
                ".*Could not connect.*",        //
                ".*Invalid argument.*",         //
                ".*Permission denied",          //
                ".*Network is unreachable",     //
                ".*operation failed.*",         //
                "Failed to open file",          //
                "Authentication failed",        //
                ".*#",                          // 11 copy complete
                "Enter username:",              // 12 server login
                "Password:",                    // 13 server password
                ".*operation was successful",   // 14 logged, goes on
                "\b[-\\|/]");                   // 15 progress spinner
}
constexpr std::array<int, 11> kCopyFailures = {IO_FILE_NOT_FOUND,   IO_FILE_NOT_FOUND,   IO_SERVER_NOT_FOUND,
                                               IO_SERVER_NOT_FOUND, IO_SERVER_NOT_FOUND, IO_SERVER_NOT_FOUND,
                                               IO_SERVER_NOT_FOUND, IO_SERVER_NOT_FOUND, IO_FILE_NOT_FOUND,
                                               IO_FILE_NOT_FOUND,   IO_BAD_SERV_LOGIN};
constexpr int kCopyDone = 11, kCopyUser = 12, kCopyPassword = 13, kCopySuccess = 14;

// The outcomes stand first, then the question: a line that also carries a
// progress word must still end the install or be answered.
constexpr auto exp_osinstall = expect("exp_osinstall",
                                      "Install has been successful",       // 0 success
                                      "Rebooting the switch.*",            // 1 success, the switch resets itself
                                      "Compatibility check failed.*",      // 2 not an OS image
                                      "continue with the installation.*",  // 3 answered "y"
                                      "Verifying image .*",                // 4.. progress
                                      "Extracting .*", "Compatibility check is done.*", "Images will be upgraded .*",
                                      "Install is in progress", "Notifying.*", "Setting.*", "Performing.*",
                                      "Freeing.*", "Loading.*", "Saving.*", "Module [0-9]+: .*");

struct Kind {
  const char* stage;    // "tryOS": the generic lines and the kind's own
  const char* urlWord;  // "os_url"
  const char* word;     // "OS": the line of a successful copy message
  ExpectRef cd, dir, del, copy;
  const std::array<Role, 5>& roles;
  bool install;  // the OS image is installed with the listed kickstart image
};

constexpr auto exp_oscd = cdArray("exp_oscd");
constexpr auto exp_bootcd = cdArray("exp_bootcd");
constexpr auto exp_osdelete = deleteArray("exp_osdelete");
constexpr auto exp_bootdelete = deleteArray("exp_bootdelete");
constexpr auto exp_oscopy = copyArray("exp_oscopy");
constexpr auto exp_bootcopy = copyArray("exp_bootcopy");

const Kind kOs = {"tryOS", "os_url", "OS", exp_oscd, exp_osdir, exp_osdelete, exp_oscopy, kOsRoles, true};
const Kind kBoot = {"tryBoot", "boot_url", "Boot", exp_bootcd, exp_bootdir, exp_bootdelete, exp_bootcopy,
                    kBootRoles, false};

// File names of the listing, each at most 99 characters.
using FileName = std::array<char, 100>;
constexpr std::size_t kMaxDeletes = 10;

struct Listing {
  FileName kickstart{};
  std::array<FileName, kMaxDeletes> deletable{};
  std::size_t count = 0;
};

// Types text (null: a command that did not fit): 0 or the IoStatus of the failure.
int type(Stage& st, const char* text) {
  const int rc = st.write(text);
  if (rc >= 0) return 0;
  if (rc == IO_UPDATE_ERR) return rc;  // not typed: the frame said why
  st.log(0, "telnet_write error=%d (%s)\n", rc, telnet_strerror(rc));
  return io_mapTelnetStatus(rc);
}

// Copies a listed name into out when it fits whole and may be typed; a name
// that would be cut could be another file's.
bool takeName(Stage& up, const char* name, FileName& out) {
  if (!plain_text(name) || !format_whole(out.data(), out.size(), "%s", name)) {
    up.log(0, "Skipping file name: not usable in a command: %s\n", up.shown(name));
    return false;
  }
  return true;
}

// Lists bootflash into l by the kind's roles.
int list(Stage& st, Stage& up, const Kind& k, Listing& l) {
  if (const int rc = type(st, "dir\r"); rc != 0) return rc;
  LoopLimit lim(st, "dir listing", LISTING_SECS);
  for (;;) {
    if (const int rc = lim.check(); rc != 0) return rc;
    const int rc = st.wait(k.dir, 10);
    if (rc < 0) return rc;
    const Role role = k.roles[static_cast<std::size_t>(rc)];
    if (role == kEnd) return 0;
    if (role == kKickstart) {
      FileName name{};
      if (!takeName(up, st.reply(), name)) continue;
      l.kickstart = name;
      up.log(2, "Found Kickstart File: %s\n", l.kickstart.data());
    } else if (role == kDeletable) {
      up.log(2, "Found Deletable File: %s\n", st.shown(st.reply()));
      if (l.count < kMaxDeletes && takeName(up, st.reply(), l.deletable[l.count])) ++l.count;
    }
  }
}

// Copies the file onto bootflash, answering the server login questions.
int copy(Stage& st, Stage& up, const Kind& k, const Download& d) {
  const UrlPieces& u = d.u;
  if (const int rc = type(st, st.cmdf(kCopy, u.scheme.data(), d.authority.data(), d.serverPath.data(),
                                      u.filename.data()));
      rc != 0) {
    return rc;
  }
  LoopLimit lim(st, "copy", COPY_SECS);
  AnswerLimit users(st, "copy user name", MAX_COPY_ANSWERS, IO_BAD_SERV_LOGIN);
  AnswerLimit passwords(st, "copy password", MAX_COPY_ANSWERS, IO_BAD_SERV_LOGIN);
  for (;;) {
    if (const int rc = lim.check(); rc != 0) return rc;
    const int rc = st.wait(k.copy, COPY_WAIT_SECS);
    if (rc < 0) return rc;
    if (rc < static_cast<int>(kCopyFailures.size())) {
      up.log(0, "Copy failed: %s\n", st.shown(st.reply()));
      return kCopyFailures[static_cast<std::size_t>(rc)];
    }
    int typed = 0;
    switch (rc) {
      case kCopyDone: return 0;
      case kCopyUser:
        if (const int q = users.next(); q != 0) return q;
        typed = type(st, st.cmdf("%s\r", u.login.data()));
        break;
      case kCopyPassword:
        if (const int q = passwords.next(); q != 0) return q;
        typed = type(st, st.cmdf("%s\r", d.password));
        break;
      case kCopySuccess: up.log(1, "%s: %s\n", k.word, st.shown(st.reply())); break;
      default: break;  // the spinner
    }
    if (typed != 0) return typed;
  }
}

// Installs the copied system image with the listed kickstart image: 0, or 1
// when the switch resets itself.
int install(Stage& st, const Listing& l, const Download& d) {
  if (const int rc = type(st, st.cmdn(kInstallSize, kInstall, l.kickstart.data(), d.u.filename.data())); rc != 0) {
    return rc;
  }
  LoopLimit lim(st, "install", INSTALL_SECS);
  for (;;) {
    if (const int rc = lim.check(); rc != 0) return rc;
    const int rc = st.wait(exp_osinstall, INSTALL_WAIT_SECS);
    if (rc < 0) return rc;
    switch (rc) {
      case 0: return 0;
      case 1: st.log(2, "switch auto-reboots\n"); return 1;
      case 2: return IO_BAD_FILE;
      case 3:
        if (const int w = type(st, "y\r"); w != 0) return w;
        break;
      default: break;  // progress
    }
  }
}

// Tries the file as an image of kind k: 0 or 1 for success, IO_BAD_FILE when
// the switch refused it as such an image. A fallback (the file was refused
// as the other kind) deletes nothing: a file the switch has just refused must
// not cost the images already there.
int tryImage(Stage& up, const Kind& k, const Download& d, bool fallback) {
  Stage st(up.run, k.stage);
  st.log(2, "%s=%s\n", k.urlWord, d.u.shown.data());
  st.run.text.clear();

  int rc = st.exchange(k.cd, "cd bootflash:\r", 10, kCdDone);
  if (rc < 0) return rc;
  if (rc != kCdDone) {
    up.log(2, "%s\n", st.shown(st.reply()));
    return IO_UPDATE_ERR;
  }

  Listing l;
  if (rc = list(st, up, k, l); rc != 0) return rc;
  if (k.install) {
    if (l.kickstart[0] == '\0') {
      up.log(0, "No kickstart image on bootflash: nothing deleted, no copy\n");
      return IO_UPDATE_ERR;
    }
    if (!fits(kInstallSize, kInstall, l.kickstart.data(), d.u.filename.data())) {
      up.log(0, "The install command would not fit: nothing deleted, no copy\n");
      return IO_UPDATE_ERR;
    }
  }

  if (fallback) {
    up.log(1, "Deleting nothing: the file was refused as the other image kind\n");
  } else {
    for (std::size_t i = 0; i < l.count; ++i) {
      up.log(2, "Deleting: %s\n", l.deletable[i].data());
      if (rc = st.exchange(k.del, st.cmdf("delete %s\r", l.deletable[i].data()), 10); rc < 0) return rc;
    }
  }

  if (rc = copy(st, up, k, d); rc != 0) return rc;
  if (!k.install) {
    st.log(0, "Boot firmware successfully updated: %s\n", d.serverPath.data());
    st.log(2, "return SUCCESS\n");
    return 1;
  }
  if (rc = install(st, l, d); rc < 0) return rc;
  st.log(1, "OS File appears valid\n");
  st.log(0, "OS firmware successfully updated: %s\n", d.serverPath.data());
  st.log(2, "return SUCCESS\n");
  return rc;
}

constexpr auto exp_getprompt = expect("exp_prompt", ".*#");

// Waits for the prompt, typing a line end when it does not come by itself.
int getPrompt(Run& run, int timeoutSecs) {
  Stage st(run, "getPrompt");
  int rc = st.quietWait(exp_getprompt, 2);
  if (rc >= 0) return 0;
  if (rc != IO_TIMEOUT) {
    st.log(0, "error getting prompt: %d (%s)\n", rc, err2String(rc));
    return rc;
  }
  rc = st.exchange(exp_getprompt, "\r", timeoutSecs);
  return rc < 0 ? rc : 0;
}

const char* kindName(const Kind& k) { return &k == &kBoot ? "Boot" : "OS"; }
const char* notKind(const Kind& k) { return &k == &kBoot ? "a Boot image file" : "an OS image file"; }

int update(Stage& st) {
  Download d;
  d.read(st.run.req.fileurl);  // the parameter check has judged the URL
  const char* shownUrl = d.u.shown.data();
  st.log(2, "fileurl=%s\n", shownUrl);

  const Kind& first = d.namesKickstart() ? kBoot : kOs;
  const Kind& second = &first == &kBoot ? kOs : kBoot;
  const Kind* tried = &first;
  int rc = tryImage(st, first, d, false);
  if (rc == IO_BAD_FILE) {
    st.log(0, "fileurl=%s is not %s\n", shownUrl, notKind(first));
    if (const int p = getPrompt(st.run, 60); p != 0) return p;
    tried = &second;
    rc = tryImage(st, second, d, true);
    if (rc == IO_BAD_FILE) {
      st.log(0, "fileurl=%s is not %s, either\n", shownUrl, notKind(second));
      return rc;
    }
  }
  if (rc < 0) {
    st.log(0, "Error downloading file=%s: %s\n", shownUrl, err2String(rc));
    return rc;
  }
  st.log(1, "fileurl=%s succesfully downloaded as %s Image file\n", shownUrl, kindName(*tried));
  st.log(0, "Update succeeded %s\n", shownUrl);
  return rc;
}

constexpr auto exp_reload = expect("exp_reload", "reboot the system\\. (y/n)?");

int reboot(Stage& st) {
  st.log(1, "Resetting/rebooting switch\n");
  const int rc = st.exchange(exp_reload, "reload\r", 10, 0);
  if (rc < 0) return rc;
  if (const int w = type(st, "y\r"); w != 0) return w;
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
