// The frame every switch module runs in: the family contract.
//
// A module is a Family: its table entry (names, accepted URLs, departures)
// and its stages. The frame owns the sequence (check, connect, update,
// reboot, close), the session and its cleanup, the collected switch text,
// the error text handed back to Java, and the one way a dialogue follows the
// switch's answers: a table of rows, each a pattern and what to do when a
// line matches it (answer, count as progress, keep a version line, finish
// with a result, or call a small function), followed under one overall time
// limit and one silence time-out (Stage::follow). The frame tells the
// request's progress sink the stages it enters and the outcome; the rows tell
// it what the console shows (a sign of life, a percentage, a byte count,
// progress marks). A module's source is then its tables, its rows and the
// few decisions that are truly its own.
#pragma once

#include <array>
#include <chrono>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "com/format.h"
#include "com/secrets.h"
#include "core/iostatus.h"
#include "switches/params.h"
#include "switches/progress.h"
#include "switches/switches.h"
#include "telnet/telnet.h"
#include "url/url.h"

namespace modburn {

class Run;
class Stage;

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
  constexpr operator ExpectRef() const { return {name, patterns.data()}; }  // NOLINT: used as an argument
};

// Builds a named expect array; index order is the order given.
template <typename... P>
constexpr ExpectArray<sizeof...(P)> expect(const char* name, P... patterns) {
  return {name, {patterns..., nullptr}};
}

// --- How a wait waits -----------------------------------------------------------

// Typed by a wait that types nothing.
inline constexpr const char* kNothing = "";

// The arguments of one wait or one follow, by name.
struct Wait {
  // Typed before the first wait: a command or an answer. kNothing types
  // nothing; a null text (a command that did not fit its buffer) is not
  // typed and fails the wait with IO_UPDATE_ERR and a line saying so.
  const char* type = kNothing;
  // Seconds one wait may pass without a line that matches (IO_TIMEOUT).
  int silence = 10;
  // Seconds a follow may last in all while lines keep matching rows that
  // read on; 0: telnet_expect_limit(silence). Checked before every wait;
  // spent: IO_TIMEOUT with the line "<name>: no end after N seconds".
  int limit = 0;
  // Names the follow in its limit lines (default: the table's name).
  const char* name = nullptr;
  // Most lines a follow matches (0: no bound); one more ends it with
  // IO_TIMEOUT and the line "<name>: no end after N lines".
  int lines = 0;
  // The row the exchange's log lines call expected (-1: none).
  int expected = -1;
  // Bytes of each matched answer kept (0: the family's responseSize).
  int keep = 0;
  // Leaves the switch text alone: a probe whose answer a failure must not quote.
  bool quiet = false;
};

// --- Tables of rows ----------------------------------------------------------------

// What a row does when its pattern matches a line.
enum class Act : std::uint8_t {
  Answer,    // types the row's text, then reads on
  Progress,  // a sign of life: told to the progress sink as a console line, reads on
  Version,   // a version line: kept and logged as "<label>: <line>", then reads on
  Finish,    // ends the follow with the row's code
  Call,      // runs the row's function; its result ends the follow unless it is kReadOn
};

// A Call's result that reads on.
inline constexpr int kReadOn = 1000;

namespace detail {
// The context type a Call function takes (void for int(Stage&)).
template <typename F>
struct ContextOf;
template <>
struct ContextOf<int (*)(Stage&)> {
  using type = void;
};
template <typename C>
struct ContextOf<int (*)(Stage&, C&)> {
  using type = C;
};
// One address per context type: a follow hands its context to the rows
// made for that type only.
template <typename C>
inline constexpr char kContextTag = 0;

template <auto F>
int callRow(Stage& st, void* context) {
  using C = typename ContextOf<decltype(F)>::type;
  if constexpr (std::is_void_v<C>) {
    return F(st);
  } else {
    return F(st, *static_cast<C*>(context));
  }
}
}  // namespace detail

struct Row {
  const char* pattern = nullptr;
  Act act = Act::Finish;
  const char* text = nullptr;  // Answer: what is typed; Version: the label
  int code = 0;                // Finish: 0, IO_SUCCESS_STOP or a negative IoStatus
  int (*fn)(Stage&, void*) = nullptr;  // Call
  const void* context = nullptr;       // Call: the context type it takes (null: none)
  int most = 0;                        // times it may fire (0: no bound)
  int overCode = IO_UPDATE_ERR;        // the result when it fires once more
  const char* what = nullptr;          // names it in the line of that failure (default: the pattern)
  const char* note = nullptr;          // logged when it fires: a format whose %s is the line, escaped
  int noteLevel = 0;
  Measure measure = Measure::None;  // the progress its line shows, told to the progress sink
  char mark = 0;                    // Marks: the mark counted
  bool quoted = true;               // false: its lines stay out of the switch text
  bool quotesAll = false;           // a failure it decides quotes every line since the command

  // At most n times; once more ends the follow with code and the line
  // "<what>: asked again after n answers".
  constexpr Row times(int n, int code = IO_UPDATE_ERR, const char* name = nullptr) const {
    Row r = *this;
    r.most = n;
    r.overCode = code;
    r.what = name;
    return r;
  }
  // Logs format (its %s the matched line, escaped) at debug level and up before acting.
  constexpr Row logs(int level, const char* format) const {
    Row r = *this;
    r.noteLevel = level;
    r.note = format;
    return r;
  }
  // Before acting, tells the progress sink what the whole console line shows
  // (progress_number, or how often mark stands on it: Marks add up over the
  // follow while the mark stays the same). A line that shows no number is
  // told as a console line.
  constexpr Row reports(Measure m, char markChar = 0) const {
    Row r = *this;
    r.measure = m;
    r.mark = markChar;
    return r;
  }
  // A failure this row decides comes from a line that does not say why (the
  // prompt back before any success message): the switch text then quotes
  // every console line printed since the follow's command, unmatched ones
  // included (the last of them, as many as fit), so that the operator reads
  // the switch's own reason.
  constexpr Row unexplained() const {
    Row r = *this;
    r.quotesAll = true;
    return r;
  }
  // Keeps its lines out of the switch text: progress that would crowd a
  // failure's own words out of the error text.
  constexpr Row unquoted() const {
    Row r = *this;
    r.quoted = false;
    return r;
  }
};

// Types text, then reads on.
constexpr Row answer(const char* pattern, const char* text) { return {.pattern = pattern, .act = Act::Answer, .text = text}; }
// Reads on.
constexpr Row progress(const char* pattern) { return {.pattern = pattern, .act = Act::Progress}; }
// Reads on; the line's percentage, byte count or marks are told to the progress sink.
constexpr Row percent(const char* pattern) { return progress(pattern).reports(Measure::Percent); }
constexpr Row bytes(const char* pattern) { return progress(pattern).reports(Measure::Bytes); }
constexpr Row marks(const char* pattern, char mark) { return progress(pattern).reports(Measure::Marks, mark); }
// Keeps the line as a version under label, logs "<label>: <line>", reads on.
constexpr Row version(const char* pattern, const char* label) {
  return {.pattern = pattern, .act = Act::Version, .text = label};
}
// Ends the follow with code.
constexpr Row finish(const char* pattern, int code) { return {.pattern = pattern, .act = Act::Finish, .code = code}; }
// Runs F: int F(Stage&) or int F(Stage&, C&) with the follow's context.
template <auto F>
constexpr Row call(const char* pattern) {
  using C = typename detail::ContextOf<decltype(F)>::type;
  const void* tag = nullptr;
  if constexpr (!std::is_void_v<C>) tag = &detail::kContextTag<C>;
  return {.pattern = pattern, .act = Act::Call, .fn = &detail::callRow<F>, .context = tag};
}

// The rows every login carries: a firewall that intercepts the session
// (its password must never be typed into it), and a switch that has no
// room for another session.
constexpr Row firewall(const char* pattern = ".*Firewall.*") {
  return finish(pattern, IO_CONN_ERR).logs(0, "PROBABLE FIREWALL INTERCEPT - NEED TO AUTHENTICATE\n");
}
constexpr Row tooManyUsers(const char* pattern, const char* line) { return finish(pattern, IO_CONN_ERR).logs(0, line); }

// Any other line with more than one visible character: read on, the line
// kept in the switch text, so that a failure quotes what the switch said
// before it (a refusal before the prompt comes back). A lone character is
// the echo of a one-key answer. Stands last: it matches what any row does.
constexpr Row otherLine() { return progress("[\\S].*[\\S]"); }

// A table as a follow takes it.
struct TableRef {
  const char* name;
  const Row* rows;
  const char* const* patterns;  // the rows' patterns, null-terminated
  std::size_t size;
  constexpr operator ExpectRef() const { return {name, patterns}; }  // NOLINT: waits take tables as arrays
};

// A named table of rows; the wait matches the rows' patterns in the order
// given, and the first pattern that matches a line decides.
template <std::size_t N>
struct Table {
  const char* name;
  std::array<Row, N> rows;
  std::array<const char*, N + 1> patterns;
  constexpr operator TableRef() const { return {name, rows.data(), patterns.data(), N}; }  // NOLINT
  constexpr operator ExpectRef() const { return {name, patterns.data()}; }  // NOLINT
};

template <std::size_t N>
constexpr Table<N> tableOf(const char* name, const std::array<Row, N>& rows) {
  Table<N> t{name, rows, {}};
  for (std::size_t i = 0; i < N; ++i) t.patterns[i] = rows[i].pattern;
  t.patterns[N] = nullptr;
  return t;
}

// Builds a named table from its rows.
template <typename... R>
constexpr Table<sizeof...(R)> table(const char* name, R... rows) {
  return tableOf<sizeof...(R)>(name, std::array<Row, sizeof...(R)>{rows...});
}

// The rows of two lists one after the other (rows several tables share).
template <std::size_t N, std::size_t M>
constexpr std::array<Row, N + M> joined(const std::array<Row, N>& first, const std::array<Row, M>& then) {
  std::array<Row, N + M> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = first[i];
  for (std::size_t i = 0; i < M; ++i) out[N + i] = then[i];
  return out;
}
template <typename... R>
constexpr std::array<Row, sizeof...(R)> rows(R... r) {
  return {r...};
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
  // Shortens the text to its first length characters (no longer: nothing).
  void truncate(std::size_t length);
  // Adds lines (each ending in a line end, secrets masked): as many of the
  // last ones as fit, the earlier ones left out.
  void appendLast(std::string_view lines);
  const char* c_str() const { return buf_.data(); }
  std::size_t size() const { return len_; }

 private:
  std::array<char, kMaxCapacity> buf_{};
  std::size_t cap_;
  std::size_t len_ = 0;
};

// --- Commands ------------------------------------------------------------------

// The largest command any family types (a form answer, a file path answer,
// an install command naming two images).
inline constexpr std::size_t kMaxCommand = 1024;

// The password given for an anonymous FTP login that carries none: a fixed,
// neutral identification in the form servers expect (an e-mail address).
inline constexpr const char* kAnonymousId = "modburn@localhost";

// The password typed for a server login: the URL's, or kAnonymousId for an
// "anonymous" login without one.
const char* server_password(const UrlPieces& u);

// --- Bounded loops -----------------------------------------------------------------

// The overall limit of a follow: the time is scaled through the time seam
// when it is checked.
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

// --- A module run -------------------------------------------------------------

// One switch family: its table entry and its stages.
struct Family {
  const char* module;   // "brocadeflash": first field of every log line
  const char* display;  // "Brocade": first field of the error text
  const char* target;   // "Brocade switch": the "connecting to ..." line
  ParamRules params;

  // Login dialogue, run on an open session: 0 or a negative IoStatus. On an
  // SSH console (Run::ssh) it starts at the console's first words after the
  // server's own login (login_steps does so by itself).
  int (*login)(Stage& st) = nullptr;
  // Lists the switch's versions into the log (run at debug level 1 and up,
  // with its own debug level 0; Stage::version keeps and logs each): 0, or a
  // negative IoStatus that fails the connect.
  int (*logConfigInfo)(Stage& st) = nullptr;
  // The firmware update: 0, IO_SUCCESS_STOP (update done, no reboot wanted),
  // kAnotherAttempt (the switch asked for the update again) or a negative
  // IoStatus. The frame opens every attempt: the URL is parsed into Run::url, its
  // masked form logged ("fileurl=...") and the switch text emptied.
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
  // More than 1: the update is tried again, after a pause, while it returns
  // kAnotherAttempt; the last such attempt fails with IO_UPDATE_ERR.
  int updateAttempts = 1;
  std::size_t switchTextSize = 1000;
  int responseSize = 1000;  // reply buffer of every wait, unless the wait keeps less
};

// An update's result that asks for another attempt (Family::updateAttempts).
inline constexpr int kAnotherAttempt = 1001;

// The state of one module call: the request, the session, the switch text,
// the reply of the last wait and the versions listed. Lives on the entry's stack.
class Run {
 public:
  static constexpr int kMaxResponse = 5000;
  static constexpr int kMaxLine = 1000;

  Run(const Family& family, const SwitchRequest& req);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  const Family& family;
  const SwitchRequest& req;
  TelnetHandle handle = -1;
  // The console is reached over SSH (an ssh:// address): the server has
  // logged the user in before the console speaks.
  bool ssh = false;
  SwitchText text;
  // The address split by io_classifyAddr: host part (IPv6 brackets removed) and port.
  const char* host = "";
  int port = 0;
  std::array<char, kMaxResponse> response{};
  // The whole console line the last wait matched (the reply may be part of it).
  std::array<char, kMaxLine> line{};
  // The firmware URL's parts, read when the update stage opens.
  UrlPieces url;
  // The version lines listed, each "<label>: <value>" (value escaped), and
  // the first failed wait of the listing (0: it came through whole).
  std::vector<std::string> versions;
  int listingFailure = 0;
  // Every console line of the version listing, and how long the switch text
  // was before it: a listing without a version line is quoted whole.
  std::string listingHeard;
  std::size_t textBeforeListing = 0;

  // Opens the session and logs in: the connect stage. The handle, or a
  // negative IoStatus with no session left open.
  int connect();
  // Closes the session if one is open: the "closing handle" line at debug
  // level 2, then telnet_close.
  void disconnect();
  // Guards the echo of a typed text that holds a password of the run inside
  // a longer command: a line editor that wraps that echo splits the password
  // into parts too short to be masked as pieces of it. For every place such
  // a wrap may fall, the part before it and the part after it are masked
  // until the run ends, each with as much of the command beside it as makes
  // it as long as the password (never shorter, so that a bare fragment of a
  // password is never masked throughout the text).
  void guardEcho(std::string_view typed);

  // Enters a stage of the frame ("connect", "logConfigInfo", "update",
  // "reboot", "disconnect"): the progress sink is told.
  void enter(const char* stage);
  // Whether a progress sink listens.
  bool reporting() const { return req.progress != nullptr; }
  // Tells the progress sink what the console shows in the current stage:
  // console is its line, trimmed, cleaned like the switch text, escaped and
  // masked for the event.
  void report(ProgressKind kind, long long value, std::string_view console);
  // Tells the progress sink the call's result: the last event.
  void reportOutcome(int rc);

  // Module state that must outlive one stage (what a departure must undo):
  // a T made at the first call, the same object after. A run holds one
  // module's state; T is a plain struct. Values that only pass from one
  // step of a stage to the next travel as arguments instead.
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
  const char* stage_ = "";   // the stage entered last
  const char* worked_ = "";  // the stage entered last but disconnect
  ConsoleTarget target_;  // the address cut into host and port
  std::vector<std::unique_ptr<SecretScope>> secrets_;  // released last first
  std::vector<std::string> guarded_;                   // typed texts whose echo is guarded

  // Opens the SSH console at host and port: the handle, or the IoStatus of
  // the refusal, whose reason becomes the switch text.
  int openSsh(Stage& st);
};

// One stage of a run ("connect", "update", ...): names the log lines and
// carries the debug level they are judged by.
class Stage {
 public:
  // The stage with the request's address and debug level.
  Stage(Run& run, const char* name);
  // A stage whose own lines show address, whose exchange lines show
  // exchangeAddress, judged by debugLevel.
  Stage(Run& run, const char* name, const char* address, const char* exchangeAddress, int debugLevel);

  // Types w.type and follows the switch's answers through the table's rows
  // until a row finishes (its code), a Call returns something other than
  // kReadOn, a row fires more often than it may (its overCode), a wait fails
  // (its IoStatus), or the follow's limits are spent (IO_TIMEOUT). Every
  // wait is one exchange: at debug level 2 the "expect array" line;
  // io_cmd_resp into the run's reply buffer; the answer added to the switch
  // text after a match or a time-out (unless w.quiet); the error line after
  // a failure.
  int follow(const TableRef& table, const Wait& w) { return noted(run_(table, w, nullptr, nullptr)); }
  // The same, handing context to the table's Call rows that take a C.
  template <typename C>
  int follow(const TableRef& table, const Wait& w, C& context) {
    return noted(run_(table, w, &context, &detail::kContextTag<C>));
  }
  // One exchange on a plain expect array: the matched index or the negative
  // IoStatus (w.limit, w.lines and w.name do not apply). For the few waits
  // whose index is data rather than a decision; decisions are tables.
  int expect(ExpectRef exp, const Wait& w);

  // What the last wait left in the reply buffer.
  const char* reply() const { return run.response.data(); }
  // text escaped for a log line (200 bytes, secrets masked), in the stage's own buffer.
  const char* shown(const char* text);

  // Formats a command (a user name or password with its line end, a
  // download command) of at most 199 characters into the stage's command
  // buffer; returns it, or null (with a line) when it does not fit whole.
  const char* cmdf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The same for a command of at most size - 1 characters (size up to kMaxCommand).
  const char* cmdn(std::size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Types text without waiting. 0; IO_UPDATE_ERR for a null text (a command
  // that did not fit: not typed); or, when the session fails, its IoStatus
  // after the line "telnet_write error=<code> (<text>)". The one policy for
  // a failed write: it fails the step that typed.
  int type(const char* text);

  // Keeps one version line and logs "<label>: <value>" at level 0 (the
  // value escaped, its line end left out).
  void version(const char* label, const char* value);

  // Logs "<module>:<stage>:<address>: " followed by the formatted text when
  // the stage's debug level is at least minLevel (0: always).
  void log(int minLevel, const char* format, ...) __attribute__((format(printf, 3, 4)));

  const char* name() const { return name_; }
  // The first negative result of a follow or an exchange of this stage; 0: none
  // failed. A stage that goes on after a failed wait (a listing that only
  // logs) still tells whether all of it came through.
  int failure() const { return failure_; }
  // Every console line the stage's waits read from now on is added to
  // lines (null: no longer).
  void hearInto(std::string* lines) { heard_ = lines; }
  const char* address() const { return address_; }
  int debugLevel() const { return debugLevel_; }
  TelnetHandle handle() const { return run.handle; }
  const char* module() const { return run.family.module; }

  Run& run;

 private:
  // The marks a follow has counted: they add up while the mark stays the same.
  struct MarkCount {
    char mark = 0;
    long long count = 0;
  };

  int run_(const TableRef& table, const Wait& w, void* context, const void* contextTag);
  // The rows' loop of run_; decided is the row that fired last.
  int followRows(const TableRef& table, const Wait& w, void* context, const void* contextTag, const Row*& decided);
  int noted(int rc) {
    if (rc < 0 && failure_ == 0) failure_ = rc;
    return rc;
  }
  // One exchange; its answer joins the switch text unless w.quiet or the
  // row of table that matched is unquoted.
  int talk(ExpectRef exp, const char* cmd, const Wait& w, const TableRef* table = nullptr);
  // Tells the progress sink what a fired row's line shows.
  void tell(const Row& row, MarkCount& marks);
  int notTyped();
  const char* vcmd(std::size_t size, const char* format, va_list ap) __attribute__((format(printf, 3, 0)));

  const char* name_;
  const char* address_;
  const char* exchangeAddress_;
  int debugLevel_;
  int failure_ = 0;
  std::array<char, 200> shown_{};
  std::array<char, kMaxCommand> cmd_{};
  std::string* heard_ = nullptr;  // while a follow runs: every line read since its command
};

// --- Shared steps ----------------------------------------------------------------

// What a login step types before it waits.
enum class Typed : std::uint8_t { Nothing, User, Password };

// One step of a login: types the user name or the password (each as
// "%s" + lineEnd) or nothing, and follows the answers through rows whose
// finish(..., 0) row moves on to the next step; then logs reached at level 1.
//
// On an SSH console the server has taken the user name and the password
// before the console speaks: the steps before the one that types the
// password (the console's own login or user name prompt, the user name) are
// left out, and the password step types nothing but follows its rows as they
// are (the prompt, a banner, a password change question), so that the login
// starts at the console's first words after it.
struct LoginStep {
  TableRef rows;
  Typed typed = Typed::Nothing;
  const char* lineEnd = "\r\n";
  int silence = 10;
  int expected = -1;
  const char* reached = nullptr;  // "have Password prompt\n"
};

// Runs the steps in order: 0 once the last one reached its prompt, or the
// first failure. On an SSH console the steps as LoginStep says.
int login_steps(Stage& st, std::span<const LoginStep> steps);

// Brings the switch back to its prompt: a quiet two-second look for it, then
// a line end and a wait of up to timeoutSecs. 0 or the IoStatus of the
// failure (logged). Runs as its own "getPrompt" stage.
int get_prompt(Run& run, const TableRef& prompt, int timeoutSecs);

// Most lines and seconds a version listing may take: a switch that pages or
// prints for ever must not hold the update.
inline constexpr int kListingLines = 300;
inline constexpr int kListingSecs = 300;

// --- The whole call -------------------------------------------------------------

// The whole module call: check, connect, update, reboot, close; 0, or a
// negative IoStatus with the error text (secrets masked) in errText. The
// switch password and the URL password are registered as secrets for the
// whole call.
int run_module(const Family& family, const SwitchRequest* req, char* errText, int errTextSize);

// The IoStatus of a failed telnet_open.
int map_open_failure(int telnetStatus);
// The IoStatus of a failed sshcon_open: a host key refused (unknown,
// changed, or a known_hosts file not usable) is IO_CONN_ERR, a refused
// login IO_BAD_SWITCH_LOGIN, the rest as for telnet_open.
int map_ssh_open_failure(int status);

}  // namespace modburn
