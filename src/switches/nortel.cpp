// nortelflash: Nortel Ethernet switch modules with a menu-path command line
// ("/info/sys/general", "/boot/cur", "/boot/reset"; prompts end in "#").
// Logs in on the port the address names, logs the system information and
// the boot configuration, has the switch fetch a new OS image into the bank
// it is not running from (or a new boot image) with "/boot/gtimg", answering
// its transfer questions, falls back to the other kind of image when the
// switch rejects the file, and resets the switch with "/boot/reset".
//
// Limits of the dialogues that follow the switch's output (documented here
// because a switch decides how long they run):
// - each transfer question ("Enter ... FTP ... TFTP", "Enter name of file",
//   the port question) is answered at most twice, then IO_UPDATE_ERR; the
//   questions last at most 600 s in all (60 s of silence each);
// - the "continue with download" and "Confirm save" questions of the OS
//   transfer are answered at most four times in all, then IO_UPDATE_ERR;
// - the OS or boot transfer lasts at most 3600 s in all (the switch may fall
//   silent for 180 s between two lines), the boot verification 1800 s (120 s
//   per silence), the listings (system information, boot configuration,
//   ping) 300 s and 300 lines each; a dialogue that runs out gives
//   IO_TIMEOUT, a listing that runs out lets the update go on;
// - the switch's prompt back before a transfer has started, before it has
//   ended, or before the OS image is verified ends the wait at once with
//   IO_UPDATE_ERR (the switch refused);
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

// Types text and reads on: how a Call row answers.
int typedOn(Stage& st, const char* text) {
  const int rc = st.type(text);
  return rc != 0 ? rc : kReadOn;
}

// Answers "y" to a question that several rows share, at most `most` times in
// all (count holds the answers given); once more logs line (its %d the most)
// and fails with IO_UPDATE_ERR.
int yesWithin(Stage& st, int& count, int most, const char* line) {
  if (count == most) {
    st.log(0, line, most);
    return IO_UPDATE_ERR;
  }
  ++count;
  return typedOn(st, "y\r");
}

// --- Login ---------------------------------------------------------------------

constexpr const char* kTooMany = "Too many users - can't log in\n";

// The login questions, matched as questions: they end their line, which an
// echo of the typed user name never does, so that a user name holding
// "password" or "username" is not taken for one.
constexpr const char* kPasswordQuestion = "password: *$";
constexpr const char* kUserQuestion = "username: *$";

// After the user name only the password question may follow.
constexpr auto exp_user_again = table("exp_user",
                                      finish(".*Firewall.*", IO_CONN_ERR),
                                      finish(kPasswordQuestion, 0),
                                      finish(kUserQuestion, IO_CONN_ERR),
                                      finish("Server end shut down", IO_CONN_ERR),
                                      finish("Too many.*connections", IO_CONN_ERR));
int giveUser(Stage& st) {
  return st.follow(exp_user_again, {.type = st.cmdf("%s\r", st.run.req.user), .expected = 1});
}

// The login banner. A firewall that intercepts the session may ask for a
// password on the line that names it: the firewall comes first, so that the
// switch's password is never typed into it. "Server end shut down" counts as
// a refusal only when the switch prints those words itself; a switch that
// closes the connection gives IO_CONN_LOST, as everywhere else.
constexpr auto exp_user = table("exp_user",
                                firewall(),
                                finish(kPasswordQuestion, 0),
                                call<giveUser>(kUserQuestion),
                                tooManyUsers("Server end shut down", kTooMany),
                                tooManyUsers("Too many.*connections", kTooMany));

// The answer to the password names the model.
constexpr const char* kSwitchType = "Switch type: %s\n";
constexpr auto exp_pw = table("exp_pw",
                              finish(".* incorrect", IO_BAD_SWITCH_LOGIN).logs(0, "incorrect password\n"),
                              finish("Layer 2-7 Gigabit Ethernet.*", 0).logs(1, kSwitchType),
                              finish(".* Layer2-3 GbE.*", 0).logs(1, kSwitchType),
                              finish("Veltra Server Connectivity.*", 0).logs(1, kSwitchType),
                              finish(".*10Gb Uplink Ethernet.*", 0).logs(1, kSwitchType),
                              finish(".*10Gb Ethernet.*", 0).logs(1, kSwitchType),
                              finish("Rackmont OFM.*", 0).logs(1, kSwitchType));

// A switch that was never set up offers its set-up dialogue: declined once.
constexpr auto exp_prompt1_again = table("exp_prompt1", finish(".*Main#", 0), finish(".*Set Up.*configure.*", IO_CONN_ERR));
int declineSetUp(Stage& st) { return st.follow(exp_prompt1_again, {.type = "n\r", .expected = 0}); }
constexpr auto exp_prompt1 = table("exp_prompt1",
                                   finish(".*Main#", 0),
                                   call<declineSetUp>(".*Set Up.*configure.*")
                                       .logs(0, "Nortel switch has not been setup, bypassing...\n"));

// Ends at the main menu prompt; a refused login leaves no session open (the
// frame closes it).
constexpr LoginStep kLogin[] = {
    {.rows = exp_user, .silence = 60, .expected = 1},
    {.rows = exp_pw, .typed = Typed::Password, .lineEnd = "\r"},
    {.rows = exp_prompt1, .silence = 30},
};

int login(Stage& st) { return login_steps(st, kLogin); }

// --- Configuration log, prompt, reset -----------------------------------------------

constexpr auto exp_prompt = table("exp_prompt", finish("#", 0));

// Types the way back from a listing and waits for the prompt it brings, so
// that no prompt is left over for the next command's answers to meet (a
// transfer's questions take the prompt for a refusal). A prompt that does
// not come leaves the next step to meet whatever the switch does.
int back(Stage& st, const char* way) {
  st.follow(exp_prompt, {.type = way});
  return 0;
}
int mainMenu(Stage& st) { return back(st, "../..\r"); }
int leaveBootMenu(Stage& st) { return back(st, "..\r"); }

// Lines both listings log as they stand.
constexpr auto kModeRows = rows(progress("NormalConnect").logs(0, "%s\n"),
                                progress("SmartConnect").logs(0, "%s\n"),
                                progress("Rackmont OFM.*").logs(0, "%s\n"));

constexpr const char* kDescription = "Switch Description";
constexpr auto exp_sysinfo = tableOf("exp_sysinfo",
                                     joined(rows(call<mainMenu>("System#"),
                                                 version(".* Layer 2-7 Gigabit.*", kDescription),
                                                 version(".* Layer2-3 GbE.*", kDescription),
                                                 version("Veltra Server Connectivity.*", kDescription),
                                                 version(".* 10Gb Uplink.*", kDescription),
                                                 version(".* 10Gb Ethernet.*", kDescription),
                                                 version("Software Version.*", "Active FW Version"),
                                                 answer("Press q to quit.*", "q")),  // the pager: quit it
                                            kModeRows));

constexpr const char* kPartition = "Flash Partition Version";
constexpr auto exp_curboot = tableOf("exp_curboot",
                                     joined(rows(call<leaveBootMenu>("Boot Options#"),
                                                 version("image1:.*", kPartition),
                                                 version("image2:.*", kPartition),
                                                 version("boot kernel:.*", kPartition)),
                                            joined(kModeRows, rows(progress("Currently set to boot.*").logs(0, "%s\n")))));

// Logs the system information and the boot configuration. A listing that
// fails or runs out is logged and leaves the login as it is; one that fails
// does not type its way back to the main menu.
int logConfigInfo(Stage& st) {
  Wait w = {.type = "/info/sys/general\r", .limit = kListingSecs, .name = "system information",
            .lines = kListingLines, .keep = 100};
  st.follow(exp_sysinfo, w);
  w.type = "/boot/cur\r";
  w.name = "boot configuration";
  st.follow(exp_curboot, w);
  return 0;
}

// A warning about unsaved or unapplied changes is confirmed, then the reset
// itself must still be asked for.
constexpr int RESET_WARNINGS = 3;
struct Warnings {
  int answered = 0;
};
int warned(Stage& st, Warnings& w) {
  return yesWithin(st, w.answered, RESET_WARNINGS, "no reset confirmation after %d warnings\n");
}
int confirmReset(Stage& st) { return st.type("y\r"); }
constexpr auto exp_confirm = table("exp_confirm",
                                   call<confirmReset>("Confirm reset"),
                                   call<warned>("Confirm operation without saving changes.*"),
                                   call<warned>("Confirm operation without applying changes"));

// The switch is not waited for: the frame closes the session right after.
int reboot(Stage& st) {
  st.log(1, "Resetting/rebooting switch\n");
  Warnings w;
  return st.follow(exp_confirm, {.type = "/boot/reset\r"}, w);
}

// --- The bank to write, the probe after an unusable file -----------------------------

// What the system information says of the running bank: the bank to write
// (null when the listing did not end or named none), and whether the switch
// warned of an unknown config block.
struct Bank {
  const char* target = nullptr;
  bool unknownConfig = false;
};
int runningImage0(Stage& st, Bank& b) {
  st.log(0, "WARNING: detected image0 to boot from - using image1 instead\n");
  b = {"image1", std::strstr(st.reply(), "unknown config") != nullptr};
  return kReadOn;
}
int runningImage1(Stage&, Bank& b) {
  b = {"image2", false};
  return kReadOn;
}
int runningImage2(Stage&, Bank& b) {
  b = {"image1", false};
  return kReadOn;
}
constexpr auto exp_sysinfo2 = table("exp_sysinfo2",
                                    call<mainMenu>("System#"),
                                    call<runningImage0>("FLASH image0.*"),
                                    call<runningImage1>("FLASH image1"),
                                    call<runningImage2>("FLASH image2"),
                                    answer("Press q to quit.*", "c"));  // the pager: page on

// The bank to write the OS into: the one the switch is not running from.
Bank getImage(Run& run) {
  Stage st(run, "getImage");
  Bank b;
  const int rc = st.follow(exp_sysinfo2, {.type = "/info/sys/general\r", .limit = kListingSecs,
                                          .name = "system information", .lines = kListingLines, .keep = 100},
                           b);
  return rc == 0 ? b : Bank{};
}

// The model probed further is the only one whose answer ends in 0.
int quitPager(Stage& st) {
  const int rc = st.type("q");
  return rc != 0 ? rc : IO_BAD_FILE;
}
constexpr auto exp_model = table("exp_model",
                                 finish("Layer 2-7 Gigabit Ethernet.*", IO_BAD_FILE),
                                 finish(".* Layer2-3 GbE.*", IO_BAD_FILE),
                                 finish("Veltra Server Connectivity.*", 0),
                                 finish(".* 1/10Gb Uplink.*", IO_BAD_FILE),
                                 finish(".* 10Gb Uplink.*", IO_BAD_FILE),
                                 finish(".* 10Gb Ethernet.*", IO_BAD_FILE),
                                 call<quitPager>("Press q to quit.*"));  // before any model line

// 0 when the switch is of the model whose "is not" answers are probed
// further, else IO_BAD_FILE. Its listing is not quoted in the error text.
int checkModel(Run& run) {
  Stage st(run, "checkModel", run.req.targetip, run.req.targetip, 0);
  const int rc = st.follow(exp_model, {.type = "/info/sys/general\r", .silence = 5, .keep = 200, .quiet = true});
  st.follow(exp_prompt, {.silence = 5, .expected = 0, .quiet = true});
  return rc == 0 ? 0 : IO_BAD_FILE;
}

// The switch's ping of the server: replies against losses, until the prompt.
struct Ping {
  int balance = 0;
};
int pingReply(Stage&, Ping& p) {
  ++p.balance;
  return kReadOn;
}
int pingLost(Stage&, Ping& p) {
  --p.balance;
  return kReadOn;
}
// More replies than losses: the server answers, so the file is what is missing.
int pingDone(Stage&, Ping& p) { return p.balance > 0 ? IO_FILE_NOT_FOUND : IO_SERVER_NOT_FOUND; }
constexpr auto exp_ping = table("exp_ping",
                                progress(".*host .* max tries .*"),
                                call<pingReply>(".* ok, RTT.*"),
                                call<pingLost>(".* timed out"),
                                progress("Ping finished"),
                                call<pingDone>(">>.*#"));

constexpr const char* kPing = "ping %s\r";
constexpr std::size_t kPingSize = 100;

// IO_FILE_NOT_FOUND when the switch reaches server by ping, else
// IO_SERVER_NOT_FOUND; a ping that runs out or falls silent is judged by
// what it got. Its listing is not quoted in the error text.
int serverValid(Run& run, const char* server) {
  Stage st(run, "serverValid", run.req.targetip, run.req.targetip, 0);
  Ping p;
  const int rc = st.follow(exp_ping, {.type = st.cmdn(kPingSize, kPing, server), .silence = 5, .limit = kListingSecs,
                                      .name = "ping", .lines = kListingLines, .keep = 200, .quiet = true},
                           p);
  if (rc == IO_TIMEOUT) return pingDone(st, p);
  return rc == IO_FILE_NOT_FOUND ? rc : IO_SERVER_NOT_FOUND;
}

// After "is not" or "corrupted": a wrong file, a missing one or an unreachable server.
int probe(Stage& st) {
  get_prompt(st.run, exp_prompt, 5);
  if (checkModel(st.run) != 0) return IO_BAD_FILE;
  const char* server = st.run.url.server.data();
  if (!fits(kPingSize, kPing, server)) {
    st.log(0, "cannot ping %s: the command does not fit\n", server);
    return IO_BAD_FILE;  // the switch's own verdict stands
  }
  return serverValid(st.run, server);
}

// --- The image download ----------------------------------------------------------

// The two kinds of image: what differs between their dialogues.
struct Kind {
  const char* stage;   // "tryOS"
  const char* urlTag;  // "os_url"
  const char* word;    // "OS": "Updating OS using TFTP"
  const char* name;    // "OS": "OS File appears valid"
  const char* image;   // "OS Image file": the update's success line
  const char* isNot;   // "is not an OS image file"
  TableRef questions, password, start, transfer;
  int transferExpected;  // expected row of the transfer (for its log lines)
  bool os;
};

// One attempt's dialogue after "/boot/gtimg": its kind, the file path it
// answers with, the "y" answers given inside the transfer, and whether the
// transfer ended in a verdict on the file (a fallback that meets one reports
// a wrong file).
struct Download {
  const Kind& kind;
  const char* path;
  int answers = 0;
  bool fileRejected = false;
};

constexpr int QUESTION_ANSWERS = 2;  // answers to one transfer question
constexpr int TRANSFER_ANSWERS = 4;  // "y" answers inside the transfer, in all
constexpr int QUESTIONS_SECS = 600;  // the questions in all
constexpr int TRANSFER_SECS = 3600;  // the OS or boot transfer in all
constexpr int BOOT_VERIFY_SECS = 1800;

constexpr std::size_t kPathAnswerSize = 301;  // a file path of up to 299 characters and "\r"

// The server question: TFTP takes a bare line end; FTP the login, then the
// password once the switch asks for it.
int serverQuestion(Stage& st, Download& d) {
  const UrlPieces& u = st.run.url;
  if (url_scheme_type(st.run.req.fileurl) == URL_SCHEME_TFTP) {
    st.log(1, "Updating %s using TFTP\n", d.kind.word);
    return typedOn(st, "\r");
  }
  st.log(1, "Updating %s using FTP: user=%s\n", d.kind.word, u.login.data());
  if (const int rc = st.follow(d.kind.password, {.type = st.cmdf("%s\r", u.login.data()), .expected = 0}); rc != 0) {
    return rc;
  }
  return typedOn(st, st.cmdf("%s\r", server_password(u)));
}

int fileQuestion(Stage& st, Download& d) { return typedOn(st, st.cmdn(kPathAnswerSize, "%s\r", d.path)); }

// "y" to "Confirm download": the questions end once the transfer starts.
int confirmDownload(Stage& st, Download& d) { return st.follow(d.kind.start, {.type = "y\r"}, d); }

// A question inside the transfer: "y", at most TRANSFER_ANSWERS in all.
int transferQuestion(Stage& st, Download& d) {
  return yesWithin(st, d.answers, TRANSFER_ANSWERS, "transfer question: asked again after %d answers\n");
}

// A transfer that ends in code; FileRejected: a verdict on the file.
template <int Code, bool FileRejected>
int downloadFailed(Stage&, Download& d) {
  d.fileRejected = FileRejected;
  return Code;
}
template <int Code, bool FileRejected = true>
constexpr Row failure(const char* pattern, const char* line) {
  return call<downloadFailed<Code, FileRejected>>(pattern).logs(0, line);
}

int probed(Stage& st, Download& d) {
  const int verdict = probe(st);
  d.fileRejected = verdict != IO_SERVER_NOT_FOUND;
  return verdict;
}

// The menu prompt (">> Main# "): the switch is done with a command. Only a
// line that ends in "#" after ">> " and a menu name counts, so that a
// progress line holding "#" is not read as the prompt, nor the echo of
// anything typed (an echo ends in a line end, a prompt waits without one).
// A console prints its prompt right behind its last message: the match
// takes the whole line, so that such a message is quoted with it.
constexpr const char* kPrompt = ".*>> [\\w ./-]*# *$";
// Any line with something on it, kept so that a refusal is quoted.
constexpr const char* kAnyLine = ".*[\\S].*";

// A kind's failure lines: before every failure, and when the switch is back
// at its prompt before the transfer started or ended (a refusal).
struct FailureLines {
  const char* failed;
  const char* refused;
};

// The rows of each kind's dialogue, written once.
constexpr auto questionRows(FailureLines lines) {
  return rows(call<serverQuestion>("Enter .* FTP .* TFTP").times(QUESTION_ANSWERS, IO_UPDATE_ERR, "server question"),
              call<fileQuestion>("Enter name of file").times(QUESTION_ANSWERS, IO_UPDATE_ERR, "file name question"),
              answer(".* port.*download.*", "\r").times(QUESTION_ANSWERS, IO_UPDATE_ERR, "port question"),
              call<confirmDownload>("Confirm download.*"),
              finish("Error: bad IP address", IO_SERVER_NOT_FOUND).logs(0, lines.failed),
              failure<IO_UPDATE_ERR, false>(kPrompt, lines.refused),
              progress(kAnyLine));
}
// The answer to "y": the errors stand before the progress lines, so that a
// console that prints "Connecting to ..." and its failure on one line has failed.
constexpr auto startRows(FailureLines lines) {
  return rows(finish("Error: Host not found", IO_SERVER_NOT_FOUND).logs(0, lines.failed),
              finish("Error initiating transfer", IO_SERVER_NOT_FOUND).logs(0, lines.failed),
              finish("Error: DNS lookup failure", IO_SERVER_NOT_FOUND).logs(0, lines.failed),
              finish("Starting download", 0),
              finish("Connecting to .*", 0),
              failure<IO_UPDATE_ERR, false>(kPrompt, lines.refused),
              progress(kAnyLine));
}
// The failures of either transfer, after its own rows; the prompt after
// them all. Progress lines are not kept: they would crowd the switch's own
// failure message out of the error text.
constexpr auto transferFailures(FailureLines lines) {
  const char* line = lines.failed;
  return rows(failure<IO_FILE_NOT_FOUND>("ERROR:  File.*not found", line),
              failure<IO_FILE_NOT_FOUND>("Error: File not found", line),
              failure<IO_FILE_NOT_FOUND>("Failed to open file", line),
              call<probed>("ERROR:  File.*is not.*").logs(0, line),
              call<probed>("Error: You.*corrupted").logs(0, line),
              failure<IO_BAD_SERV_LOGIN, false>("Login incorrect", line),
              failure<IO_SERVER_NOT_FOUND, false>("Error: DNS lookup failure", line),
              failure<IO_SERVER_NOT_FOUND, false>("Error: Host not found", line),
              failure<IO_SERVER_NOT_FOUND, false>("Error: [Tt]imeout", line),
              failure<IO_SERVER_NOT_FOUND, false>("ERROR:  Timeout.*respond", line),
              failure<IO_SERVER_NOT_FOUND, false>("Connection timeout", line),
              failure<IO_FILE_NOT_FOUND>("Error: Illegal operation", line),
              failure<IO_FILE_NOT_FOUND>("ERROR:  Internal code 0", line),
              failure<IO_FILE_NOT_FOUND>("Error: Successful", line),
              failure<IO_UPDATE_ERR>("ERROR.*", line),
              failure<IO_UPDATE_ERR>("Error.*", line),
              failure<IO_UPDATE_ERR>(kPrompt, lines.refused).unexplained());
}

// A transfer's percentage ("Receiving ###### 50%"): after the failures, so
// that a failure message holding a percentage still fails; not kept either.
constexpr auto kTransferProgress = rows(percent(".*[\\d][ ]*%").unquoted());

constexpr FailureLines kOsFailed = {"OS file download failure: %s\n",
                                    "OS file download failure: back at the prompt: %s\n"};
constexpr FailureLines kBootFailed = {"BOOT file download failure: %s\n",
                                      "BOOT file download failure: back at the prompt: %s\n"};

constexpr auto exp_osgtimg = tableOf("exp_osgtimg", questionRows(kOsFailed));
constexpr auto exp_bootgtimg = tableOf("exp_bootgtimg", questionRows(kBootFailed));
constexpr auto exp_ospw = table("exp_ospw", finish("Enter password .*", 0));
constexpr auto exp_bootpw = table("exp_bootpw", finish("Enter password .*", 0));
constexpr auto exp_osyes = tableOf("exp_osyes", startRows(kOsFailed));
constexpr auto exp_bootyes = tableOf("exp_bootyes", startRows(kBootFailed));

// The OS transfer. A console prints a question right behind the statement
// that leads to it, on the same line: the questions come first, so that
// such a line is answered and not merely noted.
constexpr auto exp_osvalid = tableOf("exp_osvalid",
                                     joined(rows(finish(".* download complete", 0).reports(Measure::Bytes),
                                                 call<transferQuestion>(".*continue with download.*").logs(2, "%s\n"),
                                                 call<transferQuestion>("Confirm save.*").logs(2, "%s\n"),
                                                 progress(".*file layout is different.*").logs(2, "%s\n"),
                                                 progress("You are about to save.*").logs(2, "%s\n")),
                                            joined(transferFailures(kOsFailed), kTransferProgress)));
constexpr auto exp_bootvalid = tableOf("exp_bootvalid",
                                       joined(rows(finish(".* download complete", 0).reports(Measure::Bytes),
                                                   finish(".*Firmware downloaded.*", 0)),
                                              joined(transferFailures(kBootFailed), kTransferProgress)));

const Kind kOs = {.stage = "tryOS", .urlTag = "os_url", .word = "OS", .name = "OS", .image = "OS Image file",
                  .isNot = "is not an OS image file", .questions = exp_osgtimg, .password = exp_ospw,
                  .start = exp_osyes, .transfer = exp_osvalid, .transferExpected = 0, .os = true};
const Kind kBoot = {.stage = "tryBoot", .urlTag = "boot_url", .word = "BOOT", .name = "Boot",
                    .image = "Boot Image file", .isNot = "is not a Boot image file", .questions = exp_bootgtimg,
                    .password = exp_bootpw, .start = exp_bootyes, .transfer = exp_bootvalid,
                    .transferExpected = -1, .os = false};

// Follows the transfer until the image is in. A switch that falls silent
// did not take the file.
int transfer(Stage& st, Download& d) {
  const int rc = st.follow(d.kind.transfer, {.silence = 180, .limit = TRANSFER_SECS, .name = "transfer",
                                             .expected = d.kind.transferExpected},
                           d);
  if (rc != IO_TIMEOUT) return rc;
  d.fileRejected = true;
  return IO_BAD_FILE;
}

// The error and the failed forms stand before "successful", which they
// contain; the prompt before any of them means the image was not verified.
constexpr auto exp_osflver = table("exp_osflver",
                                   finish("Error.*", IO_UPDATE_ERR),
                                   finish("[Uu]nsuccessful", IO_UPDATE_ERR),
                                   finish("not successful", IO_UPDATE_ERR),
                                   finish("successful", 0),
                                   finish(kPrompt, IO_UPDATE_ERR).logs(0, "FLASH not verified: back at the prompt: %s\n").unexplained());
int bootNewBank(Stage& st) {
  if (const int rc = st.type("y\r"); rc != 0) return rc;
  st.log(1, "Switched to new image bank\n");
  return kReadOn;
}
constexpr auto exp_osswimg = table("exp_osswimg",
                                   finish(kPrompt, 0),
                                   call<bootNewBank>(".*change that to the.*").times(1, IO_UPDATE_ERR, "boot bank offer"),
                                   answer(".*reboot the switch.*", "n\r").times(1, IO_UPDATE_ERR, "reboot offer"));

// The OS image is verified, then the switch's offers are answered: boot
// from the new bank (yes), reboot now (no), until the prompt returns.
int verifyOs(Stage& st) {
  st.log(1, "OS File appears valid\n");
  st.log(1, "OS Image write complete - now verifying FLASH\n");
  if (const int rc = st.follow(exp_osflver, {.silence = 180, .expected = 3}); rc != 0) return rc;
  st.log(1, "FLASH successfully verified (OS)\n");
  return st.follow(exp_osswimg, {});
}

// The prompt ends the boot verification, unless the line that brings it
// says the image was rejected.
constexpr auto exp_bootflver = table("exp_bootflver",
                                     finish(".*Boot image rejected", IO_UPDATE_ERR).logs(0, "%s\n"),
                                     finish(kPrompt, 0),
                                     bytes("Boot image .* download complete").logs(1, "%s\n"));

int verifyBoot(Stage& st) {
  st.log(1, "Boot File appears valid\n");
  st.log(1, "Boot image write complete - now verifying FLASH\n");
  const int rc = st.follow(exp_bootflver, {.silence = 120, .limit = BOOT_VERIFY_SECS, .name = "boot verification"});
  if (rc != 0) return rc;
  st.log(1, "FLASH successfully verified (Boot)\n");
  return 0;
}

constexpr const char* kOsCommand = "/boot/gtimg %s %s\r";  // bank, server
constexpr const char* kBootCommand = "/boot/gtimg boot %s\r";
constexpr std::size_t kCommandSize = 200;
constexpr const char* kLongestBank = "image1";
constexpr std::size_t kPathSize = 300;

// The file path the switch is given: directory/file, or the file alone.
bool filePath(const UrlPieces& u, std::array<char, kPathSize>& out) {
  if (u.directory[0] == '\0') return format_whole(out.data(), out.size(), "%s", u.filename.data());
  return format_whole(out.data(), out.size(), "%s/%s", u.directory.data(), u.filename.data());
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
      (!fits(kCommandSize, "%s\r", u.login.data()) || !fits(kCommandSize, "%s\r", server_password(u)))) {
    return IO_INV_URL_LOGIN;
  }
  return 0;
}

// What one attempt came to, and whether it ended in a verdict on the file.
struct Tried {
  int rc;
  bool fileRejected;
};

// The bank the OS goes into, or null (with its line) when the switch does not say.
const char* targetBank(Stage& st) {
  const Bank bank = getImage(st.run);
  const SwitchRequest& req = st.run.req;
  if (bank.unknownConfig) {
    io_log("%s:%s: WARNING: detected unknown config block - cannot correct corrupt config block - continuing\n",
           st.module(), req.targetip);
  }
  if (bank.target == nullptr) io_log("%s:%s: couldn't get current image\n", st.module(), req.targetip);
  return bank.target;
}

// One attempt with one kind of image.
Tried tryKind(Run& run, const Kind& k) {
  Stage st(run, k.stage);
  const UrlPieces& u = run.url;
  st.log(2, "%s=%s\n", k.urlTag, u.shown.data());
  run.text.clear();  // the error text quotes this attempt only
  std::array<char, kPathSize> path{};
  filePath(u, path);

  const char* cmd = nullptr;
  if (k.os) {
    const char* bank = targetBank(st);
    if (bank == nullptr) return {IO_UPDATE_ERR, false};
    cmd = st.cmdf(kOsCommand, bank, u.server.data());
  } else {
    cmd = st.cmdf(kBootCommand, u.server.data());
  }
  if (cmd != nullptr) {  // one that does not fit is not typed: the follow fails with a line
    std::array<char, 500> shownCmd{};
    st.log(1, "writing: \"%s\"\n", printable(cmd, shownCmd.data(), static_cast<int>(shownCmd.size())));
  }
  Download d{k, path.data()};
  int rc = st.follow(k.questions, {.type = cmd, .silence = 60, .limit = QUESTIONS_SECS, .name = "questions"}, d);
  if (rc == 0) rc = transfer(st, d);
  if (rc == 0) rc = k.os ? verifyOs(st) : verifyBoot(st);
  if (rc != 0) return {rc, d.fileRejected};
  st.log(0, "%s firmware successfully updated: %s\n", k.name, path.data());
  st.log(2, "return SUCCESS\n");
  return {0, false};
}

constexpr auto exp_cur = table("exp_cur",
                               progress("image1:.*").logs(2, "%s\n"),
                               progress("image2:.*").logs(2, "%s\n"),
                               progress("boot kernel:.*").logs(2, "%s\n"),
                               finish("#", 0));

// Lists the boot configuration after a successful download. The image is
// in: a listing that runs out does not fail the update.
int listBoot(Stage& st) {
  const int rc = st.follow(exp_cur, {.type = "/boot/cur\r", .limit = kListingSecs, .name = "boot configuration",
                                     .lines = kListingLines});
  if (rc == 0) st.log(0, "Update succeeded %s\n", st.run.url.shown.data());
  return rc == IO_TIMEOUT ? 0 : rc;
}

int update(Stage& st) {
  const char* shownUrl = st.run.url.shown.data();
  // "bt" or "boot" anywhere in the URL, in any case, names a boot image.
  const bool bootFirst = sregex_match("b(oo)?t", st.run.req.fileurl, SREGEX_ICASE, nullptr, 0) > 0;
  const Kind& first = bootFirst ? kBoot : kOs;
  const Kind& second = bootFirst ? kOs : kBoot;

  Tried t = tryKind(st.run, first);
  const Kind* done = &first;
  if (t.rc == IO_BAD_FILE) {
    st.log(0, "fileurl=%s %s\n", shownUrl, first.isNot);
    if (const int p = get_prompt(st.run, exp_prompt, 600); p != 0) return p;
    t = tryKind(st.run, second);
    done = &second;
    if (t.rc != 0 && t.fileRejected) {
      st.log(0, "fileurl=%s %s, either\n", shownUrl, second.isNot);
      return IO_BAD_FILE;
    }
  }
  if (t.rc != 0) {
    st.log(0, "Error downloading file=%s: %s\n", shownUrl, err2String(t.rc));
    return t.rc;
  }
  st.log(1, "fileurl=%s succesfully downloaded as %s\n", shownUrl, done->image);
  return listBoot(st);
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
