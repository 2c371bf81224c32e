// brocadeflash: Brocade Fibre Channel switches running Fabric OS. Logs in,
// records the firmware and boot PROM versions, runs the switch's own
// "firmwaredownload" in single mode from an FTP server, follows its messages
// to the end and resets the switch with "reboot" when asked.
#include <array>
#include <chrono>

#include "com/timescale.h"
#include "core/iostatus.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace modburn {
namespace {

// Overall limits of the loops that follow the switch while it keeps talking:
// the download's start (30 s waits, questions answered "y") and the install
// (150 s waits between its messages, a firmware install takes minutes).
constexpr int START_LIMIT_SECS = 600;
constexpr int INSTALL_LIMIT_SECS = 3600;
constexpr int MAX_CONFIRMATIONS = 10;

// Seconds of silence that end the drain of a failed session, and the longest
// the drain may last: a switch that keeps printing must not hold the call.
constexpr int CONSUME_SILENCE_SECS = 10;
constexpr auto CONSUME_LIMIT = std::chrono::seconds(60);

// The firewall first: a firewall's banner may ask for its own "login".
constexpr auto exp_login = table("exp_login", firewall(), finish("login", 0));
constexpr auto exp_pw = table("exp_pw", finish("Password", 0));

// The password change a switch may ask for is refused with control-C.
constexpr auto exp_prompt2 = table("exp_prompt2", finish(".*>", 0));
int refuseChange(Stage& st) { return st.follow(exp_prompt2, {.type = "\x03", .expected = 0}); }

constexpr auto exp_prompt = table("exp_prompt",
                                  finish(".*>", 0),
                                  finish(".*incorrect.*", IO_BAD_SWITCH_LOGIN).logs(0, "exp_prompt: got Incorrect: \"%s\"\n"),
                                  call<refuseChange>("change your password"));

constexpr LoginStep kLogin[] = {
    {.rows = exp_login, .silence = 30, .reached = "have login prompt\n"},
    {.rows = exp_pw, .typed = Typed::User, .expected = 0, .reached = "have Password prompt\n"},
    {.rows = exp_prompt, .typed = Typed::Password},
};

int login(Stage& st) { return login_steps(st, kLogin); }

constexpr auto exp_version = table("exp_version", finish(".*>", 0), version("Fabric OS:.*", "Active FW Version"),
                                   version("BootProm:.*", "Active Boot Version"));
constexpr auto exp_fwshow = table("exp_fwshow", finish(".*>", 0),
                                  version("Primary [Pp]artition:.*", "Flash Partition Version"),
                                  version("Secondary [Pp]artition:.*", "Flash Partition Version"));

// A listing that fails or runs out is logged and leaves the login as it is.
int logConfigInfo(Stage& st) {
  const Wait listing = {.limit = kListingSecs, .lines = kListingLines, .keep = 100};
  Wait w = listing;
  w.type = "version\r";
  st.follow(exp_version, w);
  w.type = "firmwareshow\r";
  st.follow(exp_fwshow, w);
  return 0;
}

constexpr const char* kDownloadError = "Error received doing firmwaredownload command: %s\n";

// What the download's start has seen: a server reported unreachable makes
// a later failure a missing server rather than a missing file.
struct Start {
  bool serverUnreachable = false;
};

int serverUnreachable(Stage&, Start& s) {
  s.serverUnreachable = true;
  return kReadOn;
}

int downloadFailed(Stage& st, Start& s) {
  st.log(0, kDownloadError, st.reply());
  return s.serverUnreachable ? IO_SERVER_NOT_FOUND : IO_FILE_NOT_FOUND;
}

constexpr auto exp_download = table("exp_download",
                                    finish(".*install packages", 0),  // the download started
                                    finish("Cannot download .*", IO_FILE_NOT_FOUND).logs(0, kDownloadError),
                                    finish("Another .* in progress", IO_UPDATE_ERR).logs(0, kDownloadError),
                                    progress(".*BadRootDev.*").logs(0, "WARNING: %s\n"),  // a warning only
                                    call<serverUnreachable>("ping: unknown host.*"),
                                    call<serverUnreachable>("sendto: Invalid argument"),
                                    call<downloadFailed>("Firmwaredownload failed.*"),
                                    finish("Error: .*", IO_UPDATE_ERR).logs(0, kDownloadError),
                                    answer(".*want to continue.*", "y\r")
                                        .logs(0, "Got: %s\n")
                                        .times(MAX_CONFIRMATIONS, IO_UPDATE_ERR, "continue question"));

// Old files are removed first; success comes after.
constexpr auto exp_rmcomp = table("exp_rmcomp", finish("Finished removing.*", 0).logs(1, "%s\n"));
int removing(Stage& st) {
  const int rc = st.follow(exp_rmcomp, {.silence = 150, .expected = 0});
  return rc < 0 ? rc : kReadOn;
}

// "Error:" stands before the catch-all progress patterns: placed after "any
// word" it could never win, and a failed install would only end after the
// completion time-out, as IO_TIMEOUT.
constexpr auto exp_dlcomp = table("exp_dlcomp",
                                  finish("Firmwaredownload.*successfully", 0),
                                  finish("Firmware has been downloaded.*", 0),
                                  call<removing>("Removing .* files.*").logs(1, "%s\n"),
                                  progress("Please avoid.*"),
                                  progress("Write .* flash"),
                                  marks("\\.", '.'),  // a literal dot
                                  progress(".*SUCCEEDED"),
                                  marks("^[\\s]*#+", '#'),  // a line of hash marks
                                  finish("Error:.*", IO_UPDATE_ERR).logs(0, kDownloadError),
                                  progress("[\\S-]+"),  // any word
                                  progress("\r"));     // a bare line end

constexpr auto exp_boot = table("exp_boot", finish("The system is going down .*", 0));

constexpr const char* kCommand = "firmwaredownload -s \"%s\",\"%s\",\"%s\",\"%s\"\r";
constexpr std::size_t kCommandSize = 200;

// The URL must carry a login, and the download command built from it must
// fit whole: IO_INV_URL_LOGIN when it is the login or password that is too
// long, IO_INV_URL_SYNTAX when it is the server or the path.
int urlRule(const char* fileurl) {
  if (const int rc = url_needs_login(fileurl); rc != 0) return rc;
  UrlPieces u;
  if (u.read(fileurl) != URL_OK) return IO_INV_URL_SYNTAX;
  if (fits(kCommandSize, kCommand, u.server.data(), u.login.data(), u.path.data(), u.password.data())) return 0;
  return fits(kCommandSize, kCommand, u.server.data(), "", u.path.data(), "") ? IO_INV_URL_LOGIN : IO_INV_URL_SYNTAX;
}

int update(Stage& st) {
  const UrlPieces& u = st.run.url;
  std::array<char, 100> stars{};
  std::array<char, 200> shownCommand{};
  maskPassword(u.password.data(), stars.data(), stars.size());
  format_cut(shownCommand.data(), shownCommand.size(), kCommand, u.server.data(), u.login.data(), u.path.data(),
             stars.data());
  st.log(1, "writing: \"%s\"\n", st.shown(shownCommand.data()));
  const char* cmd = st.cmdf(kCommand, u.server.data(), u.login.data(), u.path.data(), u.password.data());
  if (const int rc = st.type(cmd); rc != 0) return rc;

  Start start;
  int rc = st.follow(exp_download,
                     {.silence = 30, .limit = START_LIMIT_SECS, .name = "firmwaredownload start", .expected = 0},
                     start);
  if (rc != 0) return rc;
  rc = st.follow(exp_dlcomp, {.silence = 150, .limit = INSTALL_LIMIT_SECS, .name = "firmware install"});
  if (rc != 0) return rc;
  st.log(1, "%s\n", st.reply());
  st.log(0, "update succeeded %s\n", u.shown.data());
  st.log(2, "return SUCCESS\n");
  return 0;
}

int reboot(Stage& st) {
  st.log(1, "Resetting/rebooting switch\n");
  return st.follow(exp_boot, {.type = "reboot\r", .silence = 30, .expected = 0});
}

// Logs what the switch still prints after a failure, until it falls silent.
void consume(Run& run) {
  Stage st(run, "consume");
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::microseconds(scaled_micros(std::chrono::microseconds(CONSUME_LIMIT).count()));
  std::array<char, 256> line{};
  while (std::chrono::steady_clock::now() < deadline) {
    const int rc = telnet_readline_within(run.handle, line.data(), static_cast<int>(line.size()),
                                          CONSUME_SILENCE_SECS, deadline);
    if (rc == TELNET_TIMEOUT) return;
    if (rc < 0) {
      st.log(0, "got %s\n", line.data());
      return;
    }
    st.log(2, "got %s\n", line.data());
  }
}

constexpr Family kBrocade = {
    .module = "brocadeflash",
    .display = "Brocade",
    .target = "Brocade switch",
    .params = {.schemes = URL_SCHEME_FTP, .urlRule = urlRule},
    .login = login,
    .logConfigInfo = logConfigInfo,
    .update = update,
    .reboot = reboot,
    .beforeFailedClose = consume,
};

}  // namespace
}  // namespace modburn

int brocadeflash(const SwitchRequest* req, char* errText, int errTextSize) {
  return modburn::run_module(modburn::kBrocade, req, errText, errTextSize);
}
