// nortelflash: Nortel Ethernet switch modules with a menu-path command line
// ("/info/sys/general", "/boot/cur", "/boot/reset"; prompts end in "#").
// Logs in on the port the address names, logs the system information and
// the boot configuration, has the switch fetch a new OS image into the bank
// it is not running from (or a new boot image) with "/boot/gtimg", answering
// its transfer questions, falls back to the other kind of image when the
// switch rejects the file, and resets the switch with "/boot/reset".
//
// Limits of the loops that follow the switch's output (documented here
// because a switch decides how long they run):
// - each transfer question ("Enter ... FTP ... TFTP", "Enter name of file",
//   the port question) is answered at most twice, then IO_UPDATE_ERR;
// - the "continue with download" and "Confirm save" questions of the OS
//   transfer are answered at most four times in all, then IO_UPDATE_ERR;
// - the OS transfer loop lasts at most 3600 s in all (the switch may fall
//   silent for 180 s between two lines), the boot verification 1800 s (120 s
//   per silence), the listings (system information, boot configuration,
//   ping) 300 s each; an exhausted loop gives IO_TIMEOUT;
// - each offer after the OS verification (boot from the new bank, reboot
//   now) is answered once; asked again: IO_UPDATE_ERR;
// - "/boot/reset" answers at most three warnings about unsaved or unapplied
//   changes before "Confirm reset"; a fourth: IO_UPDATE_ERR.
#include <array>
#include <cstring>

#include "com/sregex.h"
#include "core/iostatus.h"
#include "core/log.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "telnet/telnet.h"
#include "url/url.h"

namespace modburn {
namespace {

// The password given for an anonymous FTP login that carries none: a fixed,
// neutral identification in the form servers expect (an e-mail address).
constexpr const char* kAnonymousId = "modburn@localhost";

// --- Login, configuration log, prompt, reset -----------------------------------

// The login banner. A firewall that intercepts the session may ask for a
// password on the line that names it: the firewall comes first, so that the
// switch's password is never typed into it.
constexpr auto exp_user = expect("exp_user", ".*Firewall.*", "password", "username", "Server end shut down",
                                 "Too many.*connections");
enum { USER_FIREWALL, USER_PASSWORD, USER_NAME };  // indices of exp_user; the rest refuse the session
constexpr auto exp_pw = expect("exp_pw",  // answer to the password; 1..6 name the model
                               ".* incorrect", "Layer 2-7 Gigabit Ethernet.*", ".* Layer2-3 GbE.*",
                               "Veltra Server Connectivity.*", ".*10Gb Uplink Ethernet.*", ".*10Gb Ethernet.*",
                               "Rackmont OFM.*");
constexpr auto exp_prompt1 = expect("exp_prompt1", ".*Main#", ".*Set Up.*configure.*");
constexpr auto exp_sysinfo = expect("exp_sysinfo",
                                    "System#",                 // 0 end of the listing
                                    ".* Layer 2-7 Gigabit.*",  // 1..5 the model
                                    ".* Layer2-3 GbE.*", "Veltra Server Connectivity.*", ".* 10Gb Uplink.*",
                                    ".* 10Gb Ethernet.*",
                                    "Software Version.*",                                // 6
                                    "Press q to quit.*",                                 // 7 the pager
                                    "NormalConnect", "SmartConnect", "Rackmont OFM.*");  // 8..10
constexpr auto exp_curboot = expect("exp_curboot",
                                    "Boot Options#",                                    // 0 end
                                    "image1:.*", "image2:.*", "boot kernel:.*",         // 1..3
                                    "NormalConnect", "SmartConnect", "Rackmont OFM.*",  // 4..7
                                    "Currently set to boot.*");
constexpr auto exp_prompt = expect("exp_prompt", "#");
constexpr auto exp_confirm = expect("exp_confirm", "Confirm reset", "Confirm operation without saving changes.*",
                                    "Confirm operation without applying changes");

constexpr int LISTING_SECS = 300;  // longest a listing may run in all
constexpr int RESET_WARNINGS = 3;  // warnings answered before "Confirm reset"

// Ends at the main menu prompt. A switch that closes the connection during
// the login gives IO_CONN_LOST, as the lost session is reported everywhere
// else; "Server end shut down" counts as a refusal only when the switch
// prints those words itself. A refused login leaves no session open (the
// frame closes it).
int login(Stage& st) {
  const SwitchRequest& req = st.run.req;
  int rc = st.wait(exp_user, 60, USER_PASSWORD);
  if (rc < 0) return rc;
  if (rc == USER_FIREWALL) {
    st.log(0, "PROBABLE FIREWALL INTERCEPT - NEED TO AUTHENTICATE\n");
    return IO_CONN_ERR;
  }
  if (rc > USER_NAME) {
    st.log(0, "Too many users - can't log in\n");
    return IO_CONN_ERR;
  }
  if (rc == USER_NAME) {  // the user name first
    rc = st.exchange(exp_user, st.cmdf("%s\r", req.user), 10, USER_PASSWORD);
    if (rc < 0) return rc;
    if (rc != USER_PASSWORD) return IO_CONN_ERR;
  }
  rc = st.exchange(exp_pw, st.cmdf("%s\r", req.password), 10);
  if (rc < 0) return rc;
  if (rc == 0) {
    st.log(0, "incorrect password\n");
    return IO_BAD_SWITCH_LOGIN;
  }
  st.log(1, "Switch type: %s\n", st.reply());

  rc = st.wait(exp_prompt1, 30);
  if (rc < 0) return rc;
  if (rc == 1) {  // never set up: decline the set-up dialogue
    st.log(0, "Nortel switch has not been setup, bypassing...\n");
    rc = st.exchange(exp_prompt1, "n\r", 10, 0);
    if (rc < 0) return rc;
    if (rc != 0) return IO_CONN_ERR;
  }
  return 0;
}

// Logs the system information and the boot configuration; a failure is
// logged and leaves the login as it was.
int logConfigInfo(Stage& st) {
  {
    LoopLimit lim(st, "system information", LISTING_SECS);
    const char* cmd = "/info/sys/general\r";
    for (;;) {
      if (lim.check() != 0) break;
      const int rc = cmd != nullptr ? st.exchange(exp_sysinfo, cmd, 10, -1, 100) : st.wait(exp_sysinfo, 10, -1, 100);
      cmd = nullptr;
      if (rc < 0) break;  // the error line is written; back to the main menu is not typed
      if (rc == 0) {
        st.write("../..\r");
        break;
      }
      if (rc <= 5) st.log(0, "%s: %s\n", "Switch Description", st.reply());
      if (rc == 6) st.log(0, "%s: %s\n", "Active FW Version", st.reply());
      if (rc == 7) st.write("q");
      if (rc >= 8) st.log(0, "%s\n", st.reply());
    }
  }
  LoopLimit lim(st, "boot configuration", LISTING_SECS);
  const char* cmd = "/boot/cur\r";
  for (;;) {
    if (lim.check() != 0) return 0;
    const int rc = cmd != nullptr ? st.exchange(exp_curboot, cmd, 10, -1, 100) : st.wait(exp_curboot, 10, -1, 100);
    cmd = nullptr;
    if (rc < 0) return 0;
    if (rc == 0) {
      st.write("..\r");
      return 0;
    }
    if (rc <= 3) {
      st.log(0, "%s: %s\n", "Flash Partition Version", st.reply());
    } else {
      st.log(0, "%s\n", st.reply());
    }
  }
}

// Brings the switch back to a prompt: 0 or the IoStatus of the failure.
int getPrompt(Run& run, int timeoutSecs) {
  Stage st(run, "getPrompt");
  const int rc = st.quietWait(exp_prompt, 2);
  if (rc >= 0) return 0;
  if (rc != IO_TIMEOUT) {
    st.log(0, "error getting prompt: %d (%s)\n", rc, err2String(rc));
    return rc;
  }
  const int again = st.exchange(exp_prompt, "\r", timeoutSecs);
  return again < 0 ? again : 0;
}

int reboot(Stage& st) {
  st.log(1, "Resetting/rebooting switch\n");
  int rc = st.exchange(exp_confirm, "/boot/reset\r", 10);
  // A warning about unsaved or unapplied changes is confirmed, then the
  // reset itself must still be asked for.
  for (int warnings = 0; rc > 0; ++warnings) {
    if (warnings == RESET_WARNINGS) {
      st.log(0, "no reset confirmation after %d warnings\n", RESET_WARNINGS);
      return IO_UPDATE_ERR;
    }
    st.write("y\r");
    rc = st.wait(exp_confirm, 10, 0);
  }
  if (rc < 0) return rc;
  st.write("y\r");
  return 0;
}

// --- The image download ----------------------------------------------------------

// What one row of a transfer table means.
enum class Act {
  Done,            // transfer done: verify
  Note,            // a statement: log it and read on
  Answer,          // a question: "y", then read on
  FileNotFound,    // IO_FILE_NOT_FOUND
  Probe,           // "is not" / "corrupted": find out whether the server answers
  BadServerLogin,  // IO_BAD_SERV_LOGIN
  ServerNotFound,  // IO_SERVER_NOT_FOUND
  UpdateError,     // IO_UPDATE_ERR
};

struct Row {
  const char* pattern;
  Act act;
};

// The expect array of a table's patterns, in the table's order.
template <std::size_t N>
constexpr ExpectArray<N> patternsOf(const char* name, const std::array<Row, N>& rows) {
  ExpectArray<N> e{name, {}};
  for (std::size_t i = 0; i < N; ++i) e.patterns[i] = rows[i].pattern;
  e.patterns[N] = nullptr;
  return e;
}

// A table: its own rows first, then the failures both transfers share.
template <std::size_t N, std::size_t M>
constexpr std::array<Row, N + M> joined(const Row (&first)[N], const Row (&then)[M]) {
  std::array<Row, N + M> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = first[i];
  for (std::size_t i = 0; i < M; ++i) out[N + i] = then[i];
  return out;
}

// The failures of either transfer, after its own rows.
constexpr Row kTransferFailures[] = {
    {"ERROR:  File.*not found", Act::FileNotFound},
    {"Error: File not found", Act::FileNotFound},
    {"Failed to open file", Act::FileNotFound},
    {"ERROR:  File.*is not.*", Act::Probe},
    {"Error: You.*corrupted", Act::Probe},
    {"Login incorrect", Act::BadServerLogin},
    {"Error: DNS lookup failure", Act::ServerNotFound},
    {"Error: Host not found", Act::ServerNotFound},
    {"Error: [Tt]imeout", Act::ServerNotFound},
    {"ERROR:  Timeout.*respond", Act::ServerNotFound},
    {"Connection timeout", Act::ServerNotFound},
    {"Error: Illegal operation", Act::FileNotFound},
    {"ERROR:  Internal code 0", Act::FileNotFound},
    {"Error: Successful", Act::FileNotFound},
    {"ERROR.*", Act::UpdateError},
    {"Error.*", Act::UpdateError},
};

// The OS transfer. A console prints a question right behind the statement
// that leads to it, on the same line: the questions come first, so that
// such a line is answered and not merely noted.
constexpr Row kOsOwnRows[] = {
    {".* download complete", Act::Done},
    {".*continue with download.*", Act::Answer},
    {"Confirm save.*", Act::Answer},
    {".*file layout is different.*", Act::Note},
    {"You are about to save.*", Act::Note},
};
constexpr auto kOsRows = joined(kOsOwnRows, kTransferFailures);

constexpr Row kBootOwnRows[] = {
    {".* download complete", Act::Done},
    {".*Firmware downloaded.*", Act::Done},
};
constexpr auto kBootRows = joined(kBootOwnRows, kTransferFailures);

constexpr auto exp_osvalid = patternsOf("exp_osvalid", kOsRows);
constexpr auto exp_bootvalid = patternsOf("exp_bootvalid", kBootRows);

// The switch's questions after "/boot/gtimg", and its answers to the
// password and to the confirmation: the same for both kinds, named apart
// for the log.
constexpr auto exp_osgtimg = expect("exp_osgtimg", "Enter .* FTP .* TFTP", "Enter name of file",
                                    ".* port.*download.*", "Confirm download.*", "Error: bad IP address");
constexpr auto exp_ospw = expect("exp_ospw", "Enter password .*");
// The errors stand before the progress lines: a console that prints
// "Connecting to ..." and its failure on one line has failed.
constexpr auto exp_osyes = expect("exp_osyes", "Error: Host not found", "Error initiating transfer",
                                  "Error: DNS lookup failure", "Starting download", "Connecting to .*");
constexpr int YES_STARTED = 3;  // this entry of exp_osyes and the ones after it: the transfer began
constexpr decltype(exp_osgtimg) exp_bootgtimg = {"exp_bootgtimg", exp_osgtimg.patterns};
constexpr decltype(exp_ospw) exp_bootpw = {"exp_bootpw", exp_ospw.patterns};
constexpr decltype(exp_osyes) exp_bootyes = {"exp_bootyes", exp_osyes.patterns};
// The error and the failed forms stand before "successful", which they contain.
constexpr auto exp_osflver = expect("exp_osflver", "Error.*", "[Uu]nsuccessful", "not successful", "successful");
constexpr int OSFLVER_OK = 3;
constexpr auto exp_osswimg = expect("exp_osswimg", ".*#", ".*change that to the.*", ".*reboot the switch.*");
constexpr auto exp_bootflver = expect("exp_bootflver", ".*#", "Boot image .* download complete",
                                      ".*Boot image rejected");
constexpr auto exp_sysinfo2 = expect("exp_sysinfo2", "System#", "FLASH image0.*", "FLASH image1", "FLASH image2",
                                     "Press q to quit.*");
constexpr auto exp_model = expect("exp_model", "Layer 2-7 Gigabit Ethernet.*", ".* Layer2-3 GbE.*",
                                  "Veltra Server Connectivity.*", ".* 1/10Gb Uplink.*", ".* 10Gb Uplink.*",
                                  ".* 10Gb Ethernet.*", "Press q to quit.*");
constexpr auto exp_ping = expect("exp_ping", ".*host .* max tries .*", ".* ok, RTT.*", ".* timed out",
                                 "Ping finished", ">>.*#");
constexpr auto exp_cur = expect("exp_cur", "image1:.*", "image2:.*", "boot kernel:.*", "#");

// The model whose "is not" answers are probed further (entry 2 of exp_model).
constexpr int PROBE_MODEL = 2;

constexpr const char* kOsCommand = "/boot/gtimg %s %s\r";  // bank, server
constexpr const char* kBootCommand = "/boot/gtimg boot %s\r";
constexpr std::size_t kCommandSize = 200;
constexpr const char* kLongestBank = "image1";
constexpr std::size_t kPathAnswerSize = 301;  // a file path of up to 299 characters and "\r"
constexpr std::size_t kPathSize = 300;
constexpr const char* kPing = "ping %s\r";
constexpr std::size_t kPingSize = 100;

constexpr int TRANSFER_SECS = 3600;     // the OS or boot transfer in all
constexpr int BOOT_VERIFY_SECS = 1800;  // the boot verification in all
constexpr int QUESTION_ANSWERS = 2;     // answers to one transfer question
constexpr int TRANSFER_ANSWERS = 4;     // "y" answers inside the transfer

// The two kinds of image: what differs between their dialogues.
struct Kind {
  const char* stage;   // "tryOS"
  const char* urlTag;  // "os_url"
  const char* word;    // "OS": "Updating OS using TFTP"
  const char* name;    // "OS": "OS File appears valid"
  const char* image;   // "OS Image file": the update's success line
  const char* isNot;   // "is not an OS image file"
  ExpectRef gtimg, pw, yes, valid;
  const Row* rows;
  int transferExpected;  // expected index of the transfer wait (for its log lines)
  bool os;
};

const Kind kOs = {.stage = "tryOS", .urlTag = "os_url", .word = "OS", .name = "OS", .image = "OS Image file",
                  .isNot = "is not an OS image file", .gtimg = exp_osgtimg, .pw = exp_ospw, .yes = exp_osyes,
                  .valid = exp_osvalid, .rows = kOsRows.data(), .transferExpected = 0, .os = true};
const Kind kBoot = {.stage = "tryBoot", .urlTag = "boot_url", .word = "BOOT", .name = "Boot",
                    .image = "Boot Image file", .isNot = "is not a Boot image file", .gtimg = exp_bootgtimg,
                    .pw = exp_bootpw, .yes = exp_bootyes, .valid = exp_bootvalid, .rows = kBootRows.data(),
                    .transferExpected = -1, .os = false};

// What one attempt saw, for the fallback to judge its result.
struct Attempt {
  bool fileRejected;  // the transfer ended in a verdict on the file
};

// The file path the switch is given: directory/file, or the file alone.
bool filePath(const UrlPieces& u, std::array<char, kPathSize>& out) {
  if (u.directory[0] == '\0') return format_whole(out.data(), out.size(), "%s", u.filename.data());
  return format_whole(out.data(), out.size(), "%s/%s", u.directory.data(), u.filename.data());
}

// The password typed for the server login.
const char* serverPassword(const UrlPieces& u) {
  if (u.password[0] == '\0' && std::strcmp(u.login.data(), "anonymous") == 0) return kAnonymousId;
  return u.password.data();
}

// Every command built from the URL must fit whole; checked before anything
// is typed. The login and the password are typed only for FTP.
int urlRule(const char* fileurl) {
  if (const int rc = ftp_url_needs_login(fileurl); rc != 0) return rc;
  UrlPieces u;
  if (u.read(fileurl) != URL_OK) return IO_INV_URL_SYNTAX;
  std::array<char, kPathSize> path{};
  if (!fits(kCommandSize, kOsCommand, kLongestBank, u.server.data()) ||
      !fits(kCommandSize, kBootCommand, u.server.data()) || !filePath(u, path) ||
      !fits(kPathAnswerSize, "%s\r", path.data())) {
    return IO_INV_URL_SYNTAX;
  }
  if (url_scheme_type(fileurl) == URL_SCHEME_FTP &&
      (!fits(kCommandSize, "%s\r", u.login.data()) || !fits(kCommandSize, "%s\r", serverPassword(u)))) {
    return IO_INV_URL_LOGIN;
  }
  return 0;
}

// The bank to write the OS into: the one the switch is not running from.
// 0, -2 (usable, but the switch has an unknown config block) or -1.
int getImage(Run& run, std::array<char, 50>& image) {
  Stage st(run, "getImage");
  image[0] = '\0';
  int result = -1;
  LoopLimit lim(st, "system information", LISTING_SECS);
  const char* cmd = "/info/sys/general\r";
  for (;;) {
    if (lim.check() != 0) return -1;
    const int rc = cmd != nullptr ? st.exchange(exp_sysinfo2, cmd, 10, -1, 100) : st.wait(exp_sysinfo2, 10, -1, 100);
    cmd = nullptr;
    switch (rc) {
      case 0: st.write("../..\r"); return result;
      case 1:
        format_whole(image.data(), image.size(), "image1");
        st.log(0, "WARNING: detected image0 to boot from - using image1 instead\n");
        result = std::strstr(st.reply(), "unknown config") != nullptr ? -2 : 0;
        break;
      case 2:
        format_whole(image.data(), image.size(), "image2");
        result = 0;
        break;
      case 3:
        format_whole(image.data(), image.size(), "image1");
        result = 0;
        break;
      case 4: st.write("c"); break;  // the pager: page on
      default: return -1;            // failure, time-out included
    }
  }
}

// 1 when the switch's model line is entry expected of exp_model, else 0.
int checkModel(Run& run, int expected) {
  if (expected >= 6) return 0;
  Stage st(run, "checkModel", run.req.targetip, run.req.targetip, 0);
  const int rc = st.quietExchange(exp_model, "/info/sys/general\r", 5, -1, 200);
  int answer = rc == expected ? 1 : 0;
  if (rc == 6) {  // the pager came before any model line
    st.write("q");
    answer = 0;
  }
  st.quietWait(exp_prompt, 5, 0);
  return answer;
}

// 1 when the switch gets more ping replies from server than it loses, else 0.
int serverValid(Run& run, const char* server) {
  Stage st(run, "serverValid", run.req.targetip, run.req.targetip, 0);
  LoopLimit lim(st, "ping", LISTING_SECS);
  int count = 0;
  const char* cmd = st.cmdn(kPingSize, kPing, server);
  for (bool first = true;; first = false) {
    if (lim.check() != 0) return 0;
    const int rc = first ? st.quietExchange(exp_ping, cmd, 5, -1, 200) : st.quietWait(exp_ping, 5, -1, 200);
    if (rc < 0) return 0;
    if (rc == 1) ++count;
    if (rc == 2) --count;
    if (rc == 4) return count > 0 ? 1 : 0;
  }
}

// After "is not" or "corrupted": a wrong file, a missing one or an unreachable server.
int probe(Stage& st, const char* server) {
  getPrompt(st.run, 5);
  if (checkModel(st.run, PROBE_MODEL) != 1) return IO_BAD_FILE;
  if (!fits(kPingSize, kPing, server)) {
    st.log(0, "cannot ping %s: the command does not fit\n", server);
    return IO_BAD_FILE;  // the switch's own verdict stands
  }
  return serverValid(st.run, server) == 1 ? IO_FILE_NOT_FOUND : IO_SERVER_NOT_FOUND;
}

// A failure seen in a transfer answer: the failure line, then code.
int downloadFailure(Stage& st, const Kind& k, int code) {
  st.log(0, "%s file download failure: %s\n", k.word, st.reply());
  return code;
}

// Answers the questions after "/boot/gtimg" until the switch starts the transfer.
int askedQuestions(Stage& st, const Kind& k, const UrlPieces& u, const char* path) {
  const bool tftp = url_scheme_type(st.run.req.fileurl) == URL_SCHEME_TFTP;
  AnswerLimit server(st, "server question", QUESTION_ANSWERS, IO_UPDATE_ERR);
  AnswerLimit file(st, "file name question", QUESTION_ANSWERS, IO_UPDATE_ERR);
  AnswerLimit port(st, "port question", QUESTION_ANSWERS, IO_UPDATE_ERR);
  for (;;) {
    int rc = st.wait(k.gtimg, 60);
    if (rc < 0) return rc;
    switch (rc) {
      case 0:
        if (const int lim = server.next()) return lim;
        if (tftp) {
          st.log(1, "Updating %s using TFTP\n", k.word);
          st.write("\r");
          break;
        }
        st.log(1, "Updating %s using FTP: user=%s\n", k.word, u.login.data());
        rc = st.exchange(k.pw, st.cmdf("%s\r", u.login.data()), 10, 0);
        if (rc < 0) return rc;
        st.write(st.cmdf("%s\r", serverPassword(u)));
        break;
      case 1:
        if (const int lim = file.next()) return lim;
        st.write(st.cmdn(kPathAnswerSize, "%s\r", path));
        break;
      case 2:
        if (const int lim = port.next()) return lim;
        st.write("\r");  // the default port
        break;
      case 3:
        rc = st.exchange(k.yes, "y\r", 10);
        if (rc < 0) return rc;
        if (rc >= YES_STARTED) return 0;
        return downloadFailure(st, k, IO_SERVER_NOT_FOUND);
      default: return downloadFailure(st, k, IO_SERVER_NOT_FOUND);
    }
  }
}

// Follows the transfer until the image is in; a verdict on the file is
// marked in the attempt.
int transfer(Stage& st, const Kind& k, const char* server) {
  Attempt& seen = st.run.state<Attempt>();
  LoopLimit lim(st, "transfer", TRANSFER_SECS);
  AnswerLimit answers(st, "transfer question", TRANSFER_ANSWERS, IO_UPDATE_ERR);
  for (;;) {
    if (const int rc = lim.check()) return rc;
    const int rc = st.wait(k.valid, 180, k.transferExpected);
    if (rc == IO_TIMEOUT) {  // a silent switch did not take the file
      seen.fileRejected = true;
      return IO_BAD_FILE;
    }
    if (rc < 0) return rc;
    const Act act = k.rows[rc].act;
    switch (act) {
      case Act::Done: return 0;
      case Act::Note: st.log(2, "%s\n", st.reply()); continue;
      case Act::Answer:
        st.log(2, "%s\n", st.reply());
        if (const int no = answers.next()) return no;
        st.write("y\r");
        continue;
      case Act::FileNotFound: seen.fileRejected = true; return downloadFailure(st, k, IO_FILE_NOT_FOUND);
      case Act::UpdateError: seen.fileRejected = true; return downloadFailure(st, k, IO_UPDATE_ERR);
      case Act::BadServerLogin: return downloadFailure(st, k, IO_BAD_SERV_LOGIN);
      case Act::ServerNotFound: return downloadFailure(st, k, IO_SERVER_NOT_FOUND);
      case Act::Probe: {
        downloadFailure(st, k, 0);
        const int verdict = probe(st, server);
        seen.fileRejected = verdict != IO_SERVER_NOT_FOUND;
        return verdict;
      }
    }
    return IO_UPDATE_ERR;
  }
}

// The OS image is verified, then the switch's offers are answered: boot
// from the new bank (yes), reboot now (no), each at most once, until the
// prompt returns.
int verifyOs(Stage& st) {
  st.log(1, "OS File appears valid\n");
  st.log(1, "OS Image write complete - now verifying FLASH\n");
  const int rc = st.wait(exp_osflver, 180, OSFLVER_OK);
  if (rc < 0) return rc;
  if (rc != OSFLVER_OK) return IO_UPDATE_ERR;
  st.log(1, "FLASH successfully verified (OS)\n");

  AnswerLimit bank(st, "boot bank offer", 1, IO_UPDATE_ERR);
  AnswerLimit restart(st, "reboot offer", 1, IO_UPDATE_ERR);
  for (;;) {
    const int offer = st.wait(exp_osswimg, 10);
    if (offer <= 0) return offer;
    if (offer == 1) {
      if (const int again = bank.next()) return again;
      st.write("y\r");
      st.log(1, "Switched to new image bank\n");
    } else {
      if (const int again = restart.next()) return again;
      st.write("n\r");
    }
  }
}

int verifyBoot(Stage& st) {
  st.log(1, "Boot File appears valid\n");
  st.log(1, "Boot image write complete - now verifying FLASH\n");
  LoopLimit lim(st, "boot verification", BOOT_VERIFY_SECS);
  for (;;) {
    if (const int rc = lim.check()) return rc;
    const int rc = st.wait(exp_bootflver, 120);
    if (rc < 0) return rc;
    if (rc == 0) break;
    st.log(rc == 1 ? 1 : 0, "%s\n", st.reply());
    if (rc == 2) return IO_UPDATE_ERR;
  }
  st.log(1, "FLASH successfully verified (Boot)\n");
  return 0;
}

// One attempt with one kind of image: 0 or the IoStatus of its failure.
int tryKind(Run& run, const Kind& k) {
  Stage st(run, k.stage);
  run.state<Attempt>() = {};
  const char* fileurl = run.req.fileurl;
  UrlPieces u;
  if (fileurl == nullptr || fileurl[0] == '\0') {
    st.log(2, "return SUCCESS\n");
    return 0;
  }
  u.read(fileurl);  // the parameter check has judged the URL
  st.log(2, "%s=%s\n", k.urlTag, u.shown.data());
  run.text.clear();  // the error text quotes this attempt only

  std::array<char, kPathSize> path{};
  filePath(u, path);

  const char* cmd = nullptr;
  if (k.os) {
    std::array<char, 50> image{};
    const int found = getImage(run, image);
    if (found == -2) {
      io_log("%s:%s: WARNING: detected unknown config block - cannot correct corrupt config block - continuing\n",
             st.module(), run.req.targetip);
    }
    if ((found != 0 && found != -2) || image[0] == '\0') {
      io_log("%s:%s: couldn't get current image\n", st.module(), run.req.targetip);
      return IO_UPDATE_ERR;
    }
    cmd = st.cmdf(kOsCommand, image.data(), u.server.data());
  } else {
    cmd = st.cmdf(kBootCommand, u.server.data());
  }
  if (cmd == nullptr) return st.write(cmd);  // not typed: IO_UPDATE_ERR with a line
  std::array<char, 500> shownCmd{};
  st.log(1, "writing: \"%s\"\n", printable(cmd, shownCmd.data(), static_cast<int>(shownCmd.size())));
  st.write(cmd);  // a lost session shows in the first wait

  if (const int rc = askedQuestions(st, k, u, path.data()); rc != 0) return rc;
  if (const int rc = transfer(st, k, u.server.data()); rc != 0) return rc;
  if (const int rc = k.os ? verifyOs(st) : verifyBoot(st); rc != 0) return rc;

  st.log(0, "%s firmware successfully updated: %s\n", k.name, path.data());
  st.log(2, "return SUCCESS\n");
  return 0;
}

// Lists the boot configuration after a successful download.
int listBoot(Stage& st, const char* shownUrl) {
  LoopLimit lim(st, "boot configuration", LISTING_SECS);
  const char* cmd = "/boot/cur\r";
  for (;;) {
    if (const int rc = lim.check()) return rc;
    const int rc = cmd != nullptr ? st.exchange(exp_cur, cmd, 10) : st.wait(exp_cur, 10);
    cmd = nullptr;
    if (rc == IO_TIMEOUT) return 0;  // the image is in: a slow listing does not fail the update
    if (rc < 0) return rc;
    if (rc == 3) {
      st.log(0, "Update succeeded %s\n", shownUrl);
      return 0;
    }
    st.log(2, "%s\n", st.reply());
  }
}

int update(Stage& st) {
  const char* fileurl = st.run.req.fileurl;
  std::array<char, 1000> shownUrl{};
  url_mask_password(fileurl, shownUrl.data(), shownUrl.size());
  st.log(2, "fileurl=%s\n", shownUrl.data());

  // "bt" or "boot" anywhere in the URL, in any case, names a boot image.
  const bool bootFirst = sregex_match("b(oo)?t", fileurl, SREGEX_ICASE, nullptr, 0) > 0;
  const Kind& first = bootFirst ? kBoot : kOs;
  const Kind& second = bootFirst ? kOs : kBoot;

  int rc = tryKind(st.run, first);
  const Kind* done = &first;
  if (rc == IO_BAD_FILE) {
    st.log(0, "fileurl=%s %s\n", shownUrl.data(), first.isNot);
    if (const int p = getPrompt(st.run, 600); p != 0) return p;
    rc = tryKind(st.run, second);
    done = &second;
    if (rc != 0 && st.run.state<Attempt>().fileRejected) {
      st.log(0, "fileurl=%s %s, either\n", shownUrl.data(), second.isNot);
      return IO_BAD_FILE;
    }
  }
  if (rc != 0) {
    st.log(0, "Error downloading file=%s: %s\n", shownUrl.data(), err2String(rc));
    return rc;
  }
  st.log(1, "fileurl=%s succesfully downloaded as %s\n", shownUrl.data(), done->image);
  return listBoot(st, shownUrl.data());
}

constexpr Family kNortel = {
    .module = "nortelflash",
    .display = "Nortel",
    .target = "Nortel switch",
    .params = {.schemes = URL_SCHEME_FTP | URL_SCHEME_TFTP,
               .portAllowed = true,
               .plainTypedParts = true,
               .urlRule = urlRule},
    .login = login,
    .logConfigInfo = logConfigInfo,
    .update = update,
    .reboot = reboot,
    .loggedIn = "Login complete - have prompt",
    .openOnAddressPort = true,
    .responseSize = Run::kMaxResponse,
};

}  // namespace
}  // namespace modburn

int nortelflash(const SwitchRequest* req, char* errText, int errTextSize) {
  return modburn::run_module(modburn::kNortel, req, errText, errTextSize);
}
