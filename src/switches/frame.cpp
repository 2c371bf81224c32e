#include "switches/frame.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "com/timescale.h"
#include "core/addr.h"
#include "core/exchange.h"
#include "core/log.h"
#include "telnet/connect.h"
#include "telnet/ssh.h"

namespace modburn {
namespace {

// Pause between two attempts of a family whose update is tried again.
constexpr int RETRY_PAUSE_MS = 10000;

bool missing(const char* text) { return text == nullptr || text[0] == '\0'; }

// The text of a progress event: a console line is cut to this size.
constexpr std::size_t EVENT_TEXT_SIZE = 200;

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// Tells sink (if any) the call's result, the last event.
void tellOutcome(ProgressSink* sink, const char* stage, int rc) {
  if (sink != nullptr) sink->report({stage, ProgressKind::Outcome, rc, err2String(rc)});
}

// The passwords of a request: the secrets of a run. printable() masks them
// before it escapes a text, so their escaped forms need no registration.
struct RequestSecrets {
  std::string password, urlPassword;

  explicit RequestSecrets(const SwitchRequest* req) {
    if (req == nullptr) return;
    if (req->password != nullptr) password = req->password;
    if (!missing(req->fileurl)) {
      std::array<char, URL_WORK_SIZE> pw{};
      if (url_get_password(req->fileurl, pw.data(), pw.size()) == URL_OK) urlPassword = pw.data();
    }
  }
};

// The error text of a failed call. The switch's own words are quoted with
// every secret of the run masked (a switch that echoes what it is typed must
// not carry a password into Java); the library's own wording around them is
// left whole, so that a one-letter password cannot deface it.
void composeError(const Family& f, const char* ip, int code, const char* switchText, char* errText,
                  int errTextSize) {
  const std::string quoted = switchText != nullptr ? redact(switchText) : std::string();
  io_errorText(f.display, ip, code, quoted.c_str(), errText, errTextSize);
}

// Ends a failed call after the session was opened: drains and closes the
// session, composes the error text from the switch text and logs the
// entry's error line. The one place where a failed run is cleaned up.
int fail(Run& run, const char* what, int rc, char* errText, int errTextSize) {
  const Family& f = run.family;
  if (run.handle >= 0) {
    if (f.beforeFailedClose != nullptr) f.beforeFailedClose(run);
    run.disconnect();
  }
  const char* text = run.text.c_str();
  std::array<char, SwitchText::kMaxCapacity> cleaned{};
  if (f.cleanText != nullptr) {
    f.cleanText(text, cleaned.data(), std::min(f.switchTextSize, cleaned.size()));
    text = cleaned.data();
  }
  composeError(f, run.req.targetip, rc, text, errText, errTextSize);
  if (run.req.debugLevel >= 2 && errText != nullptr) {
    io_log("%s:%s: %s error: %s\n", f.module, run.req.targetip, what, errText);
  }
  return rc;
}

// Opens the update stage: the URL's parts kept on the run, its masked form
// logged, and the switch text emptied so that a failed update quotes only
// its own dialogue.
void openUpdate(Stage& st) {
  Run& run = st.run;
  run.url.read(run.req.fileurl);  // the parameter check has judged the URL
  st.log(2, "fileurl=%s\n", run.url.shown.data());
  run.text.clear();
}

// The update stage, called again on the same session while it asks for
// another attempt and the family allows more. Each attempt is opened anew,
// so that a failure quotes the dialogue of the last attempt only.
int runUpdate(Run& run) {
  const Family& f = run.family;
  Stage st(run, "update");
  const auto attempt = [&] {
    run.enter("update");
    openUpdate(st);
    return f.update(st);
  };
  int rc = attempt();
  for (int n = 1; rc == kAnotherAttempt && n < f.updateAttempts; ++n) {
    sleep_ms(RETRY_PAUSE_MS);
    io_log("%s:%s: retrying update", f.module, run.req.targetip);
    rc = attempt();
  }
  return rc == kAnotherAttempt ? IO_UPDATE_ERR : rc;
}

// A text as a log line quotes it: escaped whole (secrets masked first), its
// final line end left out.
std::string quoted(const char* text) {
  std::string_view t = text != nullptr ? text : "";
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.remove_suffix(1);
  const std::string clear(t);
  std::string out(4 * clear.size() + 8, '\0');
  printable(clear.c_str(), out.data(), static_cast<int>(out.size()));
  out.resize(std::strlen(out.c_str()));
  return out;
}

// A versions request after the login and the listing: the versions found;
// the failure of a listing that did not come through whole (a session lost,
// a listing without end), whose versions may be some only; or IO_UPDATE_ERR
// quoting what the switch said when there were none.
int listVersions(Run& run, char* errText, int errTextSize) {
  if (run.listingFailure < 0) {
    io_log("%s:%s: the listing did not come through whole\n", run.family.module, run.req.targetip);
    return fail(run, "versions", run.listingFailure, errText, errTextSize);
  }
  if (run.versions.empty()) {
    io_log("%s:%s: no version line in the listing\n", run.family.module, run.req.targetip);
    run.text.truncate(run.textBeforeListing);
    run.text.appendLast(run.listingHeard);
    return fail(run, "versions", IO_UPDATE_ERR, errText, errTextSize);
  }
  *run.req.versions = run.versions;
  run.disconnect();
  return 0;
}

}  // namespace

// --- The switch text ---------------------------------------------------------

SwitchText::SwitchText(std::size_t capacity) : cap_(std::clamp<std::size_t>(capacity, 2, kMaxCapacity)) {
  reset();
}

void SwitchText::reset() {
  len_ = std::min(std::strlen(kInitial), cap_ - 1);
  std::memcpy(buf_.data(), kInitial, len_);
  buf_[len_] = '\0';
}

void SwitchText::truncate(std::size_t length) {
  if (length >= len_) return;
  len_ = length;
  buf_[len_] = '\0';
}

void SwitchText::appendLast(std::string_view lines) {
  const std::string masked = redact(lines);
  std::string_view rest = masked;
  const std::size_t room = cap_ - 1 > len_ ? cap_ - 1 - len_ : 0;
  // Whole lines from the first that leaves the rest room enough.
  while (rest.size() > room) {
    const std::size_t end = rest.find('\n');
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  std::memcpy(buf_.data() + len_, rest.data(), rest.size());
  len_ += rest.size();
  buf_[len_] = '\0';
}

void SwitchText::clear() {
  len_ = 0;
  buf_[0] = '\0';
}

void SwitchText::append(const char* answer) {
  if (answer == nullptr) return;
  const std::string masked = redact(answer);
  const std::size_t limit = cap_ - 2;  // characters the answer may fill up to
  if (len_ < limit) {
    const std::size_t n = std::min(masked.size(), limit - len_);
    std::memcpy(buf_.data() + len_, masked.data(), n);
    len_ += n;
  }
  if (len_ < cap_ - 1) buf_[len_++] = '\n';
  buf_[len_] = '\0';
}

// --- Small pieces ---------------------------------------------------------------

const char* server_password(const UrlPieces& u) {
  if (u.password[0] == '\0' && std::strcmp(u.login.data(), "anonymous") == 0) return kAnonymousId;
  return u.password.data();
}

LoopLimit::LoopLimit(Stage& st, const char* what, int totalSecs)
    : st_(st), what_(what), totalSecs_(totalSecs), start_(std::chrono::steady_clock::now()) {}

int LoopLimit::check() {
  const auto limit = std::chrono::microseconds(scaled_micros(static_cast<long long>(totalSecs_) * 1000000));
  if (std::chrono::steady_clock::now() - start_ < limit) return 0;
  st_.log(0, "%s: no end after %d seconds\n", what_, totalSecs_);
  return IO_TIMEOUT;
}

int map_open_failure(int telnetStatus) {
  if (telnetStatus == TELNET_BAD_HOST) return IO_INV_IP;
  if (telnetStatus == TELNET_NO_IPSTACK) return IO_NO_IPSTACK;
  return IO_CONN_ERR;
}

int map_ssh_open_failure(int status) {
  return status == SSHCON_AUTH_DENIED ? IO_BAD_SWITCH_LOGIN : map_open_failure(status);
}

// --- A module run -------------------------------------------------------------

Run::Run(const Family& f, const SwitchRequest& r) : family(f), req(r), text(f.switchTextSize) {}

Run::~Run() {
  if (handle >= 0) telnet_close(handle);  // a stage left it open: never leak the socket
  while (!secrets_.empty()) secrets_.pop_back();
}

void Run::guardEcho(std::string_view typed) {
  const std::string_view echoed = typed.substr(0, typed.find_first_of("\r\n"));
  if (echoed.empty() || std::find(guarded_.begin(), guarded_.end(), echoed) != guarded_.end()) return;
  guarded_.emplace_back(echoed);
  const RequestSecrets mine(&req);
  for (const std::string_view pw : {std::string_view(mine.password), std::string_view(mine.urlPassword)}) {
    const std::size_t len = pw.size();
    const std::size_t at = len < 2 ? std::string_view::npos : echoed.find(pw);
    if (at == std::string_view::npos) continue;
    const auto guard = [&](std::string_view part) {
      secrets_.push_back(
          std::make_unique<SecretScope>(std::initializer_list<std::string_view>{part}, SecretMatch::Whole));
    };
    // Parts of one length are masked in the order registered: the longest
    // part of the password before a wrap first, then likewise after it. A
    // part needs some of the command beside it: a bare fragment of the
    // password is never registered.
    for (std::size_t v = len - 1; v >= 1 && at > 0; --v) {  // wrapped after v characters: the line that ends there
      const std::size_t from = at + v > len ? at + v - len : 0;
      guard(echoed.substr(from, at + v - from));
    }
    for (std::size_t v = 1; v < len && at + len < echoed.size(); ++v) {  // the line that begins there
      guard(echoed.substr(at + v, len));
    }
  }
}

void Run::enter(const char* stage) {
  stage_ = stage;
  if (std::strcmp(stage, "disconnect") != 0) worked_ = stage;
  if (req.progress != nullptr) req.progress->report({stage, ProgressKind::Stage, -1, ""});
}

void Run::report(ProgressKind kind, long long value, std::string_view console) {
  if (req.progress == nullptr) return;
  std::string clear(trimmed(console));
  if (family.cleanText != nullptr) {
    std::array<char, SwitchText::kMaxCapacity> cleaned{};
    family.cleanText(clear.c_str(), cleaned.data(), cleaned.size());
    clear = trimmed(cleaned.data());
  }
  if (kind == ProgressKind::Line && clear.empty()) return;  // a bare line end shows nothing
  std::array<char, EVENT_TEXT_SIZE> text{};
  printable(clear.c_str(), text.data(), static_cast<int>(text.size()));  // secrets masked, then escaped
  req.progress->report({stage_, kind, value, text.data()});
}

void Run::reportOutcome(int rc) { tellOutcome(req.progress, worked_, rc); }

int Run::openSsh(Stage& st) {
  std::array<char, SwitchText::kMaxCapacity> why{};
  const int h = sshcon_open(host, port, req.user, req.password, NET_CONNECT_SECS * 1000, why.data(),
                            static_cast<int>(why.size()));
  if (h < 0) {
    st.log(0, "sshcon_open error=%d (%s)\n", h, sshcon_strerror(h));
    // The server's refusal (a host key with its fingerprint, a login) is
    // what the error text quotes.
    text.clear();
    text.append(why.data());
    return map_ssh_open_failure(h);
  }
  st.log(1, "transport SSH, host key %s\n", sshcon_hostKey(h).c_str());
  st.log(2, "sshcon_open success: handle=%d\n", h);
  return h;
}

int Run::connect() {
  const Family& f = family;
  // An ssh:// address names an SSH console: its host and port stand after the scheme.
  split_address(req.targetip, target_);  // the check has judged it already
  ssh = target_.ssh;
  host = target_.host;
  port = ssh || f.openOnAddressPort ? target_.port : 0;
  // A family that opens the address's own port, and an SSH console, name the address as given.
  const char* shownAddr = ssh || f.openOnAddressPort ? req.targetip : host;
  Stage st(*this, "connect", shownAddr, req.targetip, req.debugLevel);
  enter("connect");

  if (req.debugLevel >= 2) {
    io_log("%s:connect: ip=%s user=%s pw=<NOT SHOWN>\n", f.module, shownAddr, req.user);
  }
  if (ssh) {
    const int h = openSsh(st);
    if (h < 0) return h;
    handle = h;
  } else {
    const TelnetHandle h = telnet_open(host, port);
    if (h < 0) {
      st.log(0, "telnet_open error=%d (%s)\n", h, telnet_strerror(h));
      return map_open_failure(h);
    }
    handle = h;
    st.log(2, "telnet_open success: handle=%d\n", h);
  }
  text.clear();

  int rc = f.login(st);
  // A versions request lists them at every debug level.
  if (rc >= 0 && (req.debugLevel >= 1 || req.versions != nullptr)) {
    st.log(1, "%s\n", f.loggedIn);
    if (f.logConfigInfo != nullptr) {
      enter("logConfigInfo");
      Stage info(*this, "logConfigInfo", shownAddr, shownAddr, 0);
      textBeforeListing = text.size();
      info.hearInto(&listingHeard);
      rc = f.logConfigInfo(info);
      info.hearInto(nullptr);
      listingFailure = info.failure();
    }
  }
  if (rc < 0) {
    disconnect();  // a refused login must not leave the socket open
    return rc;
  }
  st.log(2, "returning handle=%d\n", handle);
  return handle;
}

void Run::disconnect() {
  if (handle < 0) return;
  enter("disconnect");
  if (req.debugLevel >= 2) io_log("%s:disconnect:%s: closing handle=%d\n", family.module, req.targetip, handle);
  telnet_close(handle);
  handle = -1;
}

// --- Stages -----------------------------------------------------------------

Stage::Stage(Run& r, const char* name) : Stage(r, name, r.req.targetip, r.req.targetip, r.req.debugLevel) {}

Stage::Stage(Run& r, const char* name, const char* address, const char* exchangeAddress, int debugLevel)
    : run(r), name_(name), address_(address), exchangeAddress_(exchangeAddress), debugLevel_(debugLevel) {}

namespace {

// Leaves out the first lines once more than a switch text could quote have gathered.
void keepLast(std::string& heard) {
  constexpr std::size_t kMost = 2 * SwitchText::kMaxCapacity;
  if (heard.size() <= kMost) return;
  const std::size_t cut = heard.find('\n', heard.size() - kMost);
  heard.erase(0, cut == std::string::npos ? heard.size() : cut + 1);
}

// Keeps one console line a wait read, with a line end.
void hear(void* context, const char* line) {
  auto& heard = *static_cast<std::string*>(context);
  std::string_view l = line;
  while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.remove_suffix(1);
  heard.append(l).append("\n");
  keepLast(heard);
}

}  // namespace

int Stage::talk(ExpectRef exp, const char* cmd, const Wait& w, const TableRef* table) {
  if (debugLevel_ >= 2) io_log("%s:%s:%s: expect array=%s\n", module(), name_, exchangeAddress_, exp.name);
  int size = std::clamp(run.family.responseSize, 2, Run::kMaxResponse);
  if (w.keep > 0 && w.keep < size) size = w.keep;
  run.response[0] = '\0';
  const int rc = io_cmd_resp(run.handle, cmd, exp.patterns, w.silence, 0, run.response.data(), size, w.expected,
                             debugLevel_, LineOut{run.line.data(), Run::kMaxLine, heard_ != nullptr ? &hear : nullptr, heard_});
  const bool unquoted = table != nullptr && rc >= 0 && static_cast<std::size_t>(rc) < table->size &&
                        !table->rows[rc].quoted;
  if (!w.quiet && !unquoted && (rc >= 0 || rc == IO_TIMEOUT)) run.text.append(run.response.data());
  if (rc < 0) {
    io_log("%s:%s:%s: %s error=%d (%s)\n", module(), name_, exchangeAddress_, exp.name, rc, err2String(rc));
  }
  return rc;
}

int Stage::expect(ExpectRef exp, const Wait& w) {
  if (w.type == nullptr) return noted(notTyped());
  run.guardEcho(w.type);
  return noted(talk(exp, w.type[0] != '\0' ? w.type : nullptr, w));
}

int Stage::run_(const TableRef& t, const Wait& w, void* context, const void* contextTag) {
  if (w.type == nullptr) return notTyped();
  run.guardEcho(w.type);
  std::string heard;
  std::string* const outer = std::exchange(heard_, &heard);  // a Call's own follow hears for itself
  const std::size_t textBefore = run.text.size();
  const Row* decided = nullptr;
  const int rc = followRows(t, w, context, contextTag, decided);
  heard_ = outer;
  if (outer != nullptr) {
    outer->append(heard);
    keepLast(*outer);
  }
  if (rc < 0 && decided != nullptr && decided->quotesAll && !w.quiet) {
    run.text.truncate(textBefore);
    run.text.appendLast(heard);
  }
  return rc;
}

int Stage::followRows(const TableRef& t, const Wait& w, void* context, const void* contextTag, const Row*& decided) {
  const char* what = w.name != nullptr ? w.name : t.name;
  const int limitSecs = w.limit > 0 ? w.limit : telnet_expect_limit(w.silence);
  LoopLimit limit(*this, what, limitSecs);
  std::array<int, IO_MAX_EXPECT> fired{};
  MarkCount marks;
  const char* cmd = w.type[0] != '\0' ? w.type : nullptr;
  for (int lines = 0;; ++lines, cmd = nullptr) {
    if (const int rc = limit.check(); rc != 0) return rc;
    if (w.lines > 0 && lines >= w.lines) {
      log(0, "%s: no end after %d lines\n", what, w.lines);
      return IO_TIMEOUT;
    }
    const int i = talk(t, cmd, w, &t);
    if (i < 0) return i;
    // io_cmd_resp refuses more than IO_MAX_EXPECT patterns, and the patterns are the rows'.
    if (static_cast<std::size_t>(i) >= t.size) return IO_UPDATE_ERR;
    const Row& row = t.rows[i];
    decided = &row;
    if (row.note != nullptr) log(row.noteLevel, row.note, quoted(reply()).c_str());
    if (row.most > 0 && ++fired[static_cast<std::size_t>(i)] > row.most) {
      log(0, "%s: asked again after %d answers\n", row.what != nullptr ? row.what : row.pattern, row.most);
      return row.overCode;
    }
    tell(row, marks);
    switch (row.act) {
      case Act::Answer:
        if (const int rc = type(row.text); rc != 0) return rc;
        break;
      case Act::Progress: break;
      case Act::Version: version(row.text, reply()); break;
      case Act::Finish: return row.code;
      case Act::Call: {
        if (row.context != nullptr && row.context != contextTag) {
          log(0, "%s: row \"%s\" needs a context this follow does not have\n", what, row.pattern);
          return IO_UPDATE_ERR;
        }
        const int rc = row.fn(*this, context);
        if (rc != kReadOn) return rc;
        break;
      }
    }
  }
}

void Stage::tell(const Row& row, MarkCount& marks) {
  if (!run.reporting()) return;
  const std::string_view line = run.line.data();
  long long value = -1;
  ProgressKind kind = ProgressKind::Line;
  switch (row.measure) {
    case Measure::None:
      if (row.act != Act::Progress) return;
      break;
    case Measure::Percent:
    case Measure::Bytes:
      value = progress_number(row.measure, line);
      if (value >= 0) kind = row.measure == Measure::Percent ? ProgressKind::Percent : ProgressKind::Bytes;
      break;
    case Measure::Marks:
      if (const long long n = count_marks(line, row.mark); n > 0) {
        if (marks.mark != row.mark) marks = {row.mark, 0};
        marks.count += n;
        value = marks.count;
        kind = ProgressKind::Marks;
      }
      break;
  }
  run.report(kind, value, line);
}

const char* Stage::shown(const char* text) {
  return printable(text, shown_.data(), static_cast<int>(shown_.size()));
}

int Stage::notTyped() {
  log(0, "command not typed: it does not fit its buffer\n");
  return IO_UPDATE_ERR;
}

const char* Stage::vcmd(std::size_t size, const char* format, va_list ap) {
  size = std::min(size, cmd_.size());
  if (vformat_whole(cmd_.data(), size, format, ap)) return cmd_.data();
  log(0, "command does not fit in %zu characters\n", size - 1);
  return nullptr;
}

const char* Stage::cmdf(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  const char* cmd = vcmd(200, format, ap);
  va_end(ap);
  return cmd;
}

const char* Stage::cmdn(std::size_t size, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  const char* cmd = vcmd(size, format, ap);
  va_end(ap);
  return cmd;
}

int Stage::type(const char* text) {
  if (text == nullptr) return notTyped();
  run.guardEcho(text);
  const int rc = telnet_write(run.handle, text);
  if (rc >= 0) return 0;
  log(0, "telnet_write error=%d (%s)\n", rc, telnet_strerror(rc));
  return io_mapTelnetStatus(rc);
}

void Stage::version(const char* label, const char* value) {
  const std::string v = quoted(value);
  log(0, "%s: %s\n", label, v.c_str());
  run.versions.push_back(std::string(label) + ": " + v);
}

void Stage::log(int minLevel, const char* format, ...) {
  if (debugLevel_ < minLevel) return;
  va_list ap;
  va_start(ap, format);
  const std::string text = vformat(format, ap);
  va_end(ap);
  io_log("%s:%s:%s: %s", module(), name_, address_, text.c_str());
}

// --- Shared steps ----------------------------------------------------------------

int login_steps(Stage& st, std::span<const LoginStep> steps) {
  const SwitchRequest& req = st.run.req;
  const bool ssh = st.run.ssh;
  if (ssh) {
    // The steps before the password's are the console's own login prompt.
    const auto pw = std::ranges::find(steps, Typed::Password, &LoginStep::typed);
    if (pw != steps.end()) steps = steps.subspan(static_cast<std::size_t>(pw - steps.begin()));
  }
  for (const LoginStep& s : steps) {
    const char* typed = kNothing;
    if (s.typed != Typed::Nothing && !ssh) {
      typed = st.cmdf("%s%s", s.typed == Typed::User ? req.user : req.password, s.lineEnd);
    }
    if (const int rc = st.follow(s.rows, {.type = typed, .silence = s.silence, .expected = s.expected}); rc != 0) {
      return rc;
    }
    if (s.reached != nullptr) st.log(1, "%s", s.reached);
  }
  return 0;
}

int get_prompt(Run& run, const TableRef& prompt, int timeoutSecs) {
  Stage st(run, "getPrompt");
  const int rc = st.follow(prompt, {.silence = 2, .quiet = true});
  if (rc >= 0) return 0;
  if (rc != IO_TIMEOUT) {
    st.log(0, "error getting prompt: %d (%s)\n", rc, err2String(rc));
    return rc;
  }
  const int again = st.follow(prompt, {.type = "\r", .silence = timeoutSecs});
  return again < 0 ? again : 0;
}

// --- The whole call -------------------------------------------------------------

namespace {

// The stages of a call whose request passed its check, from the connect to
// the close: 0 or the failure's IoStatus with its error text.
int runStages(Run& run, char* errText, int errTextSize) {
  const Family& f = run.family;
  const SwitchRequest* req = &run.req;
  if (req->debugLevel >= 1) io_log("%s: connecting to %s ip=%s\n", f.module, f.target, req->targetip);
  if (const int rc = run.connect(); rc < 0) return fail(run, "connect", rc, errText, errTextSize);
  if (req->versions != nullptr) return listVersions(run, errText, errTextSize);

  const int rc = runUpdate(run);
  if (rc == IO_SUCCESS_STOP) {
    if (f.onStop != nullptr) f.onStop(run);
    run.disconnect();
    if (f.afterStop != nullptr) f.afterStop(run);
    return 0;
  }
  if (rc < 0) return fail(run, "update", rc, errText, errTextSize);

  if (f.reboot != nullptr && req->reboot) {
    run.enter("reboot");
    Stage st(run, "reboot");
    if (const int rb = f.reboot(st); rb < 0) return fail(run, "reboot", rb, errText, errTextSize);
  }
  run.disconnect();
  return 0;
}

}  // namespace

int run_module(const Family& f, const SwitchRequest* req, char* errText, int errTextSize) {
  const RequestSecrets s(req);
  const SecretScope secrets{s.password, s.urlPassword};

  if (const int rc = check_params(req, f.params); rc != 0) {
    const char* ip = req != nullptr ? req->targetip : nullptr;  // null: "Unknown switch"
    composeError(f, ip, rc, nullptr, errText, errTextSize);
    const char* advice = nullptr;
    if (rc == IO_INV_URL_LOGIN && url_slashed_password(req->fileurl, nullptr, nullptr)) {
      advice = URL_SLASHED_PASSWORD_ADVICE;
    } else if (rc == IO_INV_IP && req != nullptr) {
      advice = address_advice(req->targetip, f.params);
    }
    if (advice != nullptr && errText != nullptr) {
      const std::size_t used = std::strlen(errText);
      format_cut(errText + used, static_cast<std::size_t>(errTextSize) - used, ": %s", advice);
    }
    if (req != nullptr && req->debugLevel == 2 && errText != nullptr) {
      io_log("%s:%s: param error: %s\n", f.module, ip != nullptr ? ip : "Unknown switch", errText);
    }
    if (req != nullptr && !req->checkOnly) tellOutcome(req->progress, "", rc);
    return rc;
  }
  if (req->checkOnly) return 0;

  Run run(f, *req);
  const int rc = runStages(run, errText, errTextSize);
  run.reportOutcome(rc);
  return rc;
}

}  // namespace modburn
