// ciscoflash: Cisco Ethernet switch modules running IOS. Logs in through the
// user and privileged levels, logs the running version, installs the image
// with "archive download-sw /overwrite" (the switch fetches it from the FTP,
// TFTP or RCP URL), saves the configuration and resets with "reload".
#include <array>
#include <string_view>

#include "com/sregex.h"
#include "core/iostatus.h"
#include "switches/frame.h"
#include "switches/modules.h"
#include "url/url.h"

namespace modburn {
namespace {

// --- Login ---------------------------------------------------------------------
//
// The switch asks for a user name, for a password, or greets with the user
// prompt (">"); the login ends at the privileged prompt ("#"), asked for with
// "enable" where the switch stops at ">". Each answer is a step of its own
// and each of its rows names the step that follows.

constexpr const char* kGotInvalid = "exp_prompt: got Invalid: \"%s\"\n";
constexpr const char* kEnableRefused = "exp_prompt: enable command did not work: \"%s\"\n";

const char* typedPassword(Stage& st) { return st.cmdf("%s\r\n", st.run.req.password); }

// The login password serves as the enable password too.
constexpr auto exp_prompt_enable = table("exp_prompt",
                                         finish(".*#", 0),
                                         finish(".*>", IO_BAD_SWITCH_LOGIN).logs(0, kEnableRefused),
                                         finish("invalid", IO_BAD_SWITCH_LOGIN).logs(0, kGotInvalid),
                                         finish("Password:.*", IO_BAD_SWITCH_LOGIN).logs(0, kGotInvalid));
int enablePassword(Stage& st) { return st.follow(exp_prompt_enable, {.type = typedPassword(st)}); }

// At the user prompt once logged in: ask for privilege.
constexpr auto exp_user3 = table("exp_user3",
                                 finish(".*#", 0),
                                 finish(".*>", IO_BAD_SWITCH_LOGIN).logs(0, kEnableRefused),
                                 call<enablePassword>("Password:.*"));
int enable(Stage& st) { return st.follow(exp_user3, {.type = "enable\r\n"}); }

constexpr auto exp_prompt_login = table("exp_prompt",
                                        finish(".*#", 0),
                                        call<enable>(".*>"),
                                        finish("invalid", IO_BAD_SWITCH_LOGIN).logs(0, kGotInvalid),
                                        finish("Password:.*", IO_BAD_SWITCH_LOGIN).logs(0, kGotInvalid));
int password(Stage& st) {
  st.log(1, "have Password prompt\n");
  return st.follow(exp_prompt_login, {.type = typedPassword(st)});
}

constexpr auto exp_pw = table("exp_pw", call<password>("Password"), finish("invalid", IO_CONN_ERR));
int user(Stage& st) {
  st.log(1, "have Username prompt\n");
  return st.follow(exp_pw, {.type = st.cmdf("%s\r\n", st.run.req.user), .expected = 0});
}

// A user prompt before any login: "enable" first, then whatever it asks.
constexpr auto exp_user2 = table("exp_user2", call<user>("Username"), call<password>("Password:.*"));
int enableFirst(Stage& st) { return st.follow(exp_user2, {.type = "enable\r\n"}); }

constexpr auto exp_user1 = table("exp_user1",  // the switch's first words
                                 call<user>("Username"),
                                 call<enableFirst>(".*>"),
                                 firewall(),
                                 call<password>("Password:.*"));

// On an SSH console the server has logged the user in: the console's first
// words are its prompt, and the privilege step follows as after a password.
int login(Stage& st) { return st.follow(st.run.ssh ? TableRef(exp_prompt_login) : TableRef(exp_user1), {}); }

// --- Versions --------------------------------------------------------------------

constexpr auto exp_version = table("exp_version",
                                   finish(".*#", 0),
                                   version(".*CIGESM Software.*", "Active FW Version"),
                                   version(".*System image file.*", "Flash Partition Version"),
                                   answer("--More--", " "));  // the pager: page on

// A listing that fails or runs out (a pager that pages for ever) is logged
// and leaves the login as it is.
int logConfigInfo(Stage& st) {
  st.follow(exp_version, {.type = "show version\r",
                          .limit = kListingSecs,
                          .name = "show version",
                          .lines = kListingLines,
                          .keep = 100});
  return 0;
}

// --- The update ----------------------------------------------------------------------

constexpr const char* kArchive = "archive download-sw /overwrite %s\r\n";
constexpr std::size_t kArchiveSize = 200;

// The scheme in lower case, and the archive command with the whole URL fits.
int urlRule(const char* fileurl) {
  if (const int rc = url_scheme_lower_case(fileurl); rc != 0) return rc;
  return fits(kArchiveSize, kArchive, fileurl) ? 0 : IO_INV_URL_SYNTAX;
}

// Transfer time-outs: an FTP download may take much longer than TFTP or RCP.
constexpr int FTP_TRANSFER_SECS = 1800;
constexpr int OTHER_TRANSFER_SECS = 900;
// The whole transfer and install, while the switch keeps printing, may last
// four of its silence time-outs.
constexpr int TRANSFER_LIMIT_FACTOR = 4;

// A prompt alone at the end of its line ("sim#", "marker.sim#"): never the
// echo of the command (its URL may hold a "#" only inside its login or
// password), nor a progress line.
constexpr const char* kPromptAlone = ".*[\\w]#[ ]*\\Z";

// What the transfer has shown: a failure after a "Loading" line is a bad
// file, not a missing one; a success message that the prompt followed on
// the same line leaves no prompt to wait for.
struct Transfer {
  int loading = 0;
  bool promptSeen = false;
};

// Ends the switch's archive operation after a failure it reported. That
// failure stays the result; a write that fails is logged by type().
int stopArchive(Stage& st, int code) {
  static_cast<void>(st.type("exit\r"));
  return code;
}

// Logs the switch's words and ends the archive operation with code.
int reported(Stage& st, int code) {
  st.log(0, "%s\n", st.shown(st.reply()));
  return stopArchive(st, code);
}
template <int Code>
int failed(Stage& st) {
  return reported(st, Code);
}

// A missing file, or, once loading began, a file whose transfer broke off.
int transferFailed(Stage& st, Transfer& t) {
  const bool loaded = t.loading > 0 || std::string_view(st.reply()).find("Loading ") != std::string_view::npos;
  return reported(st, loaded ? IO_BAD_FILE : IO_FILE_NOT_FOUND);
}

int unable(Stage& st) {
  st.log(0, "Error! %s\n", st.shown(st.reply()));
  return stopArchive(st, IO_UPDATE_ERR);
}

int archiveError(Stage& st) {
  st.log(0, "%s\n", st.shown(st.reply()));
  st.log(0, "writing \"exit\\r\"\n");
  return stopArchive(st, IO_FILE_NOT_FOUND);
}

int installed(Stage& st, Transfer& t) {
  t.promptSeen = sregex_match(kPromptAlone, st.reply(), SREGEX_MULTILINE, nullptr, 0) > 0;
  return 0;
}

int loadingLine(Stage& st, Transfer& t) {
  ++t.loading;
  st.log(2, "%s\n", st.shown(st.reply()));
  return kReadOn;
}

// An IOS message ("%..."): logged, the transfer goes on.
int iosMessage(Stage& st) {
  st.log(0, "%s\n", st.shown(st.reply()));
  return kReadOn;
}


// The transfer's messages. The echo of the command stands first: the URL it
// carries may hold any word below ("Unable", "ERROR:", a "%", even a blank
// and "image installed"), and only the switch's own words may decide. The
// outcomes the switch names come next, before the progress rows, so that a
// line that carries both ends the transfer; then the prompt: back before any
// outcome, the switch refused the command. IOS messages ("%...") stand last:
// one that runs into the prompt must not hide it.
constexpr auto exp_image = table("exp_image",
                                 progress("^archive download-sw "),
                                 call<installed>("image installed"),
                                 call<installed>(".*images installed.*"),
                                 call<unable>("Unable.*"),
                                 call<failed<IO_SERVER_NOT_FOUND>>(".*\\(Invalid.*hostname\\)"),
                                 call<failed<IO_SERVER_NOT_FOUND>>(".*\\(Protocol error\\)"),
                                 call<transferFailed>(".*\\(Timed out\\)"),
                                 call<transferFailed>(".*\\(No such file.*\\)"),
                                 call<failed<IO_BAD_SERV_LOGIN>>(".*\\(No such user\\)"),
                                 call<archiveError>("ERROR:.*"),
                                 finish(kPromptAlone, IO_UPDATE_ERR)
                                     .logs(0, "archive download-sw refused: the prompt came back before the image was "
                                              "installed: \"%s\"\n")
                                     .unexplained(),
                                 call<loadingLine>("Loading .*").reports(Measure::Marks, '!'),
                                 marks("!", '!'),
                                 progress("extracting .*"),
                                 progress("Extracting files").logs(2, "Extracting files\n"),
                                 progress("Installing.*").logs(2, "Installing update\n"),
                                 call<iosMessage>("%.*"));

// The privileged prompt after the install and after "write memory"; any
// other prompt means the session lost its privilege.
constexpr auto exp_prompt_update = table("exp_prompt",
                                         finish(".*#", 0),
                                         finish(".*>", IO_CONN_ERR),
                                         finish("invalid", IO_CONN_ERR));

int update(Stage& st) {
  const char* fileurl = st.run.req.fileurl;
  const char* shownUrl = st.run.url.shown.data();
  const int silence = url_scheme_type(fileurl) == URL_SCHEME_FTP ? FTP_TRANSFER_SECS : OTHER_TRANSFER_SECS;

  std::array<char, 200> shownCommand{};
  format_cut(shownCommand.data(), shownCommand.size(), kArchive, shownUrl);
  st.log(1, "writing: \"%s\"\n", st.shown(shownCommand.data()));
  if (const int rc = st.type(st.cmdf(kArchive, fileurl)); rc != 0) return rc;

  Transfer transfer;
  const Wait w = {.silence = silence, .limit = TRANSFER_LIMIT_FACTOR * silence, .name = "archive download"};
  if (const int rc = st.follow(exp_image, w, transfer); rc != 0) return rc;
  st.log(1, "Firmware image installed.\n");
  if (!transfer.promptSeen) {
    if (const int rc = st.follow(exp_prompt_update, {.expected = 0}); rc != 0) return rc;
  }
  st.log(1, "archive command succeeded, got prompt\n");
  st.log(1, "writing: \"write memory\"\n");
  if (const int rc = st.follow(exp_prompt_update, {.type = "write memory\r\n", .expected = 0}); rc != 0) return rc;
  st.log(1, "write memory succeeded, got prompt\n");
  st.log(0, "Update succeeded %s\n", shownUrl);
  st.log(2, "return SUCCESS\n");
  return 0;
}

constexpr auto exp_confirm = table("exp_confirm", finish("confirm", 0));

int reboot(Stage& st) {
  st.log(1, "Resetting/rebooting switch\n");
  if (const int rc = st.follow(exp_confirm, {.type = "reload\r\n", .expected = 0}); rc != 0) {
    st.log(0, "%s\n", "Reboot could not be verified");
    return rc;
  }
  if (const int rc = st.type("\r"); rc != 0) return rc;  // confirms the reload
  st.log(2, "return SUCCESS\n");
  return 0;
}

constexpr Family kCisco = {
    .module = "ciscoflash",
    .display = "Cisco",
    .target = "Cisco switch",
    .params = {.schemes = URL_SCHEME_FTP | URL_SCHEME_TFTP | URL_SCHEME_RCP, .urlRule = urlRule},
    .login = login,
    .logConfigInfo = logConfigInfo,
    .update = update,
    .reboot = reboot,
};

}  // namespace
}  // namespace modburn

int ciscoflash(const SwitchRequest* req, char* errText, int errTextSize) {
  return modburn::run_module(modburn::kCisco, req, errText, errTextSize);
}
