// The frame every switch module runs in.
//
// A module is a Family: its table entry (names, accepted URLs, departures)
// and its stages. The frame owns the sequence (check, connect, update,
// reboot, close), the plumbing of every exchange, the collected switch text,
// the session and its cleanup, and the error text handed back to Java. A
// module's source is then only its dialogue: named expect arrays and what
// each matched index does.
#pragma once

#include <array>
#include <chrono>
#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <string_view>
#include <vector>

#include "com/secrets.h"
#include "switches/switches.h"
#include "telnet/telnet.h"

namespace modburn {

// --- Expect arrays ---------------------------------------------------------

// A named, null-terminated pattern array as io_cmd_resp takes it. The name
// ("exp_login") appears in the exchange's log lines.
struct ExpectRef {
  const char* name;
  const char* const* patterns;
};

template <std::size_t N>
struct ExpectArray {
  const char* name;
  std::array<const char*, N + 1> patterns;  // the last entry is null
  operator ExpectRef() const { return {name, patterns.data()}; }  // NOLINT: used as an argument
};

// Builds a named expect array; index order is the order given.
template <typename... P>
constexpr ExpectArray<sizeof...(P)> expect(const char* name, P... patterns) {
  return {name, {patterns..., nullptr}};
}

// --- The switch text ---------------------------------------------------------

// The switch's own answers, collected so that a failure can quote them.
// Capacity is 1000 bytes (2000 for a family that says so): it never holds
// more than capacity - 1 characters, and earlier text is never shortened.
class SwitchText {
 public:
  static constexpr std::size_t kMaxCapacity = 2000;
  static constexpr const char* kInitial = "NO SWITCH DATA RECEIVED YET";

  explicit SwitchText(std::size_t capacity);
  // Restarts the text as "NO SWITCH DATA RECEIVED YET".
  void reset();
  // Empties the text.
  void clear();
  // Adds one answer: as much of it as fits while the text holds at most
  // capacity - 2 characters, then a line end unless the text is full.
  // Registered secrets are masked before the answer is stored.
  void append(const char* answer);
  const char* c_str() const { return buf_.data(); }
  std::size_t size() const { return len_; }

 private:
  std::array<char, kMaxCapacity> buf_{};
  std::size_t cap_;
  std::size_t len_ = 0;
};

// --- Parameter checks -------------------------------------------------------

// What a family accepts. The checks run in one order for every family, the
// first defect deciding: request present, address (IO_INV_IP), user and
// password (IO_INV_LOGIN), URL present (IO_MISSING_URL), URL valid for the
// schemes (IO_INV_URL_SCHEME / IO_INV_URL_SYNTAX), the family's own URL rule,
// debug level 0..2 (IO_BAD_PARAMS), the family's last rule.
struct ParamRules {
  unsigned schemes = 0;                     // UrlScheme bits accepted
  bool portAllowed = false;                 // an address may name a port
  bool hostNameRefused = false;             // a host name (not a literal) gives IO_INV_URL_HOST
  // The family types the URL's parts unquoted into commands or form fields:
  // server, port, login, directory and file name must be plain
  // (url_typed_parts_plain), otherwise IO_INV_URL_SYNTAX.
  bool plainTypedParts = false;
  // The family also types the URL's password inside a command: it must be
  // plain too (IO_INV_URL_LOGIN otherwise).
  bool plainPassword = false;
  int (*urlRule)(const char* fileurl) = nullptr;    // 0 or an IoStatus
  int (*lastRule)(const SwitchRequest&) = nullptr;  // 0 or an IoStatus
};

// Longest user name or password a family accepts: each is typed as one
// "%s\r\n" line of at most 199 characters, whole or not at all.
inline constexpr std::size_t kMaxLoginText = 197;

// The address test alone, on a 200-byte copy: 0 or the IoStatus of its defect.
int check_address(const char* targetip, const ParamRules& rules);
// The URL tests alone (present, valid for the schemes, the family's rule).
int check_url(const char* fileurl, const ParamRules& rules);
// Every test in order: 0 or the IoStatus of the first defect.
int check_params(const SwitchRequest* req, const ParamRules& rules);

// True when every character of text may be typed unquoted into a command: no
// blank, no double quote, no control character, no byte of 0x7F or above.
bool plain_text(std::string_view text);
// True when server is a host name (letters, digits, '-', '.', '_'), an IPv4
// address or an IPv6 address (hex digits, ':' and '.'; brackets removed).
bool plain_server(std::string_view server);
// The typed-parts rule on a URL that validates: 0, IO_INV_URL_SYNTAX when the
// server, port, login, directory or file name is not plain, or (withPassword)
// IO_INV_URL_LOGIN when the password is not.
int url_typed_parts_plain(const char* fileurl, bool withPassword);

// Stock URL rules. The URL must carry a login (IO_INV_URL_LOGIN; a URL whose
// login cannot be taken gives IO_INV_URL_SYNTAX).
int url_needs_login(const char* fileurl);
// The same, for FTP URLs only.
int ftp_url_needs_login(const char* fileurl);
// The scheme must be written in lower case (IO_INV_URL_SCHEME otherwise).
int url_scheme_lower_case(const char* fileurl);

class Run;
class Stage;

// --- URL parts -----------------------------------------------------------------

// Every part of one firmware URL, each in a buffer that holds the whole part
// of any URL that validates (511 characters): nothing is ever cut.
struct UrlPieces {
  using Text = std::array<char, 512>;
  Text scheme{}, server{}, port{}, login{}, password{}, path{}, directory{}, filename{};
  // The loggable URL (password masked).
  Text shown{};

  // Takes the parts of url: URL_OK, or the first getter's UrlStatus.
  int read(const char* url);
};

// The limits of consoles that take server, directory and file name as
// fields of their own from a TFTP URL: the default port (69) or none, a
// server of at most 99 characters, a directory of at most 199, a file name of
// 1 to 99. 0, or IO_INV_URL_SYNTAX.
int tftp_parts_rule(const UrlPieces& u);

// --- Commands ------------------------------------------------------------------

// The largest command any family types (a form answer, a file path answer,
// an install command naming two images).
inline constexpr std::size_t kMaxCommand = 1024;

// Formats into out (size bytes) only when the whole text fits in size - 1
// characters; returns true then. Otherwise out is left empty and false is
// returned: a command is typed whole or not at all.
bool format_whole(char* out, std::size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
// True when the formatted text fits in size - 1 characters (nothing is kept).
bool fits(std::size_t size, const char* format, ...) __attribute__((format(printf, 2, 3)));

// --- Literal patterns ------------------------------------------------------------

// Writes text into out as a pattern that matches exactly that text: a
// backslash before every character the pattern dialect treats as special
// ("$ ( ) * + - . ? [ \ ] ^"). Returns true, or false (out empty) when the
// escaped text does not fit in size - 1 characters or in one pattern token
// (255 characters).
bool pattern_literal(std::string_view text, char* out, std::size_t size);

// --- Bounded loops -----------------------------------------------------------------

// The overall limit of one loop of a dialogue that repeats while the switch
// keeps printing (progress lines, percentages): the time is scaled through
// the time seam when it is checked. Check it at the top of every round.
class LoopLimit {
 public:
  LoopLimit(Stage& st, const char* what, int totalSecs);
  // 0 while time remains; IO_TIMEOUT, with a line naming the loop, once spent.
  int check();

 private:
  Stage& st_;
  const char* what_;
  int totalSecs_;
  std::chrono::steady_clock::time_point start_;
};

// The number of times one question may be answered (a login or a file name
// the switch asks for again and again).
class AnswerLimit {
 public:
  AnswerLimit(Stage& st, const char* what, int maxAnswers, int code);
  // Counts one more answer: 0 while at most maxAnswers were given; code, with
  // a line naming the question, once more are asked for.
  int next();
  int count() const { return count_; }

 private:
  Stage& st_;
  const char* what_;
  int max_;
  int code_;
  int count_ = 0;
};

// --- A module run -------------------------------------------------------------

// One switch family: its table entry and its stages.
struct Family {
  const char* module;   // "brocadeflash": first field of every log line
  const char* display;  // "Brocade": first field of the error text
  const char* target;   // "Brocade switch": the "connecting to ..." line
  ParamRules params;

  // Login dialogue, run on an open session: 0 or a negative IoStatus.
  int (*login)(Stage& st) = nullptr;
  // Writes the switch's versions to the log (run at debug level 1 and up,
  // with its own debug level 0): 0, or a negative IoStatus that fails the
  // connect.
  int (*logConfigInfo)(Stage& st) = nullptr;
  // The firmware update: 0, IO_SUCCESS_STOP (update done, no reboot wanted)
  // or a negative IoStatus.
  int (*update)(Stage& st) = nullptr;
  // The reset; null when the family has none (the reboot flag is not read).
  int (*reboot)(Stage& st) = nullptr;

  // Departures. Runs before the session is closed after a failed update or
  // reboot (e.g. to drain what the switch still prints).
  void (*beforeFailedClose)(Run& run) = nullptr;
  // Run when the update returns IO_SUCCESS_STOP: onStop while the session is
  // still open (to leave a mode on the switch), afterStop once it is closed
  // (to say what the operator must do next).
  void (*onStop)(Run& run) = nullptr;
  void (*afterStop)(Run& run) = nullptr;
  // Cleans the switch text into out before it is quoted in the error text.
  void (*cleanText)(const char* text, char* out, std::size_t size) = nullptr;

  const char* loggedIn = "have command prompt";  // the connect stage's "logged in" line
  bool openOnAddressPort = false;  // open the port the address names; connect lines show the address
  int updateAttempts = 1;          // more than 1: retried while it fails with IO_UPDATE_ERR
  // With more than one attempt: asked after an attempt that failed with
  // IO_UPDATE_ERR whether the switch itself asked for another one; null
  // retries every IO_UPDATE_ERR.
  bool (*retryWanted)(Run& run) = nullptr;
  std::size_t switchTextSize = 1000;
  int responseSize = 1000;  // response buffer of every exchange, unless the exchange says less
};

// The state of one module call: the request, the session, the switch text
// and the response of the last exchange. Lives on the entry's stack.
class Run {
 public:
  static constexpr int kMaxResponse = 5000;

  Run(const Family& family, const SwitchRequest& req);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  const Family& family;
  const SwitchRequest& req;
  TelnetHandle handle = -1;
  SwitchText text;
  // The address split by io_classifyAddr: host part (IPv6 brackets removed) and port.
  const char* host = "";
  int port = 0;
  std::array<char, kMaxResponse> response{};

  // Opens the session and logs in: the connect stage. The handle, or a
  // negative IoStatus with no session left open.
  int connect();
  // Closes the session if one is open: the "closing handle" line at debug
  // level 2, then telnet_close.
  void disconnect();
  // Registers one more secret until the run ends.
  void addSecret(std::string_view secret);

  // The module's own state for this run (what it saw, what its
  // beforeFailedClose must undo): a T made at the first call, the same
  // object after. A run holds one module's state; T is a plain struct.
  template <typename T>
  T& state() {
    static_assert(sizeof(T) <= kStateSize && alignof(T) <= alignof(std::max_align_t), "module state too large");
    static_assert(std::is_trivially_destructible_v<T>, "module state must be a plain struct");
    if (!stateMade_) {
      new (state_.data()) T{};
      stateMade_ = true;
    }
    return *std::launder(reinterpret_cast<T*>(state_.data()));
  }
  // True once the module made its state.
  bool hasState() const { return stateMade_; }

 private:
  static constexpr std::size_t kStateSize = 1024;
  alignas(std::max_align_t) std::array<unsigned char, kStateSize> state_{};
  bool stateMade_ = false;
  std::array<char, 200> addr_{};
  std::vector<std::unique_ptr<SecretScope>> secrets_;  // released last first
};

// One stage of a run ("connect", "update", ...): names the exchange's log
// lines and carries the debug level they are judged by.
class Stage {
 public:
  // The stage with the request's address and debug level.
  Stage(Run& run, const char* name);
  // A stage whose own lines show address, whose exchange lines show
  // exchangeAddress, judged by debugLevel.
  Stage(Run& run, const char* name, const char* address, const char* exchangeAddress, int debugLevel);

  // One exchange: at debug level 2 the "expect array" line; io_cmd_resp
  // typing cmd, into the run's response buffer, bounded by respSize when it
  // is given; the answer added to the switch text after a match or a
  // time-out; the error line after any failure. Returns the matched index or
  // the negative IoStatus. A null cmd (a command that did not fit) is not
  // typed: IO_UPDATE_ERR with a line saying so.
  int exchange(ExpectRef exp, const char* cmd, int timeoutSecs, int expIndex = -1, int respSize = 0) {
    return cmd != nullptr ? talk(exp, cmd, timeoutSecs, expIndex, respSize, true) : notTyped();
  }
  // An exchange that types nothing.
  int wait(ExpectRef exp, int timeoutSecs, int expIndex = -1, int respSize = 0) {
    return talk(exp, nullptr, timeoutSecs, expIndex, respSize, true);
  }
  // The same two, leaving the switch text alone (a probe whose answer a
  // failure must not quote); the log lines are those of exchange.
  int quietExchange(ExpectRef exp, const char* cmd, int timeoutSecs, int expIndex = -1, int respSize = 0) {
    return cmd != nullptr ? talk(exp, cmd, timeoutSecs, expIndex, respSize, false) : notTyped();
  }
  int quietWait(ExpectRef exp, int timeoutSecs, int expIndex = -1, int respSize = 0) {
    return talk(exp, nullptr, timeoutSecs, expIndex, respSize, false);
  }
  // What the last exchange left in the response buffer.
  const char* reply() const { return run.response.data(); }
  // text escaped for a log line (200 bytes, secrets masked), in the stage's own buffer.
  const char* shown(const char* text);

  // Formats a command (a user name or password with its line end, a
  // download command) of at most 199 characters into the stage's command
  // buffer; returns it, or null (with a line) when it does not fit whole.
  const char* cmdf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The same for a command of at most size - 1 characters (size up to kMaxCommand).
  const char* cmdn(std::size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Types text without waiting: telnet_write's result; a null text (a
  // command that did not fit) is not typed: IO_UPDATE_ERR with a line.
  int write(const char* text);

  // Logs "<module>:<stage>:<address>: " followed by the formatted text when
  // the stage's debug level is at least minLevel (0: always).
  void log(int minLevel, const char* format, ...) __attribute__((format(printf, 3, 4)));

  const char* name() const { return name_; }
  const char* address() const { return address_; }
  int debugLevel() const { return debugLevel_; }
  TelnetHandle handle() const { return run.handle; }
  const char* module() const { return run.family.module; }

  Run& run;

 private:
  int talk(ExpectRef exp, const char* cmd, int timeoutSecs, int expIndex, int respSize, bool keepText);
  int notTyped();
  const char* vcmd(std::size_t size, const char* format, va_list ap) __attribute__((format(printf, 3, 0)));

  const char* name_;
  const char* address_;
  const char* exchangeAddress_;
  int debugLevel_;
  std::array<char, 200> shown_{};
  std::array<char, kMaxCommand> cmd_{};
};

// The login of a console that asks for a user and then a password: waits
// for user (index 1: a firewall, IO_CONN_ERR), types the user name and waits
// for password (index 1: the user asked again, IO_CONN_ERR), types the
// password and waits for prompt (index 1: refused, IO_BAD_SWITCH_LOGIN with
// a line). Each wait lasts up to secs; 0 once logged in.
int login_user_password(Stage& st, ExpectRef user, ExpectRef password, ExpectRef prompt, int secs);

// The whole module call: check, connect, update, reboot, close; 0, or a
// negative IoStatus with the error text (secrets masked) in errText. The
// switch password and the URL password are registered as secrets for the
// whole call.
int run_module(const Family& family, const SwitchRequest* req, char* errText, int errTextSize);

// The IoStatus of a failed telnet_open.
int map_open_failure(int telnetStatus);

// Formats into out, cut to size - 1 characters like every fixed buffer of a
// dialogue (the cut is part of the behaviour, not an accident); returns out.
char* format_cut(char* out, std::size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));

// One '*' per character of password (at most size - 1) into out; returns
// out, or null for a null password, a null out or a size of 0.
char* maskPassword(const char* password, char* out, std::size_t size);

}  // namespace modburn
