#include "switches/frame.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "com/timescale.h"
#include "core/addr.h"
#include "core/exchange.h"
#include "core/iostatus.h"
#include "core/log.h"
#include "url/url.h"

namespace modburn {
namespace {

// Class of a host name (not an address literal) from io_classifyAddr.
constexpr int ADDR_HOST_NAME = 3;
// Pause between two attempts of a family whose update is retried.
constexpr int RETRY_PAUSE_MS = 10000;

bool missing(const char* text) { return text == nullptr || text[0] == '\0'; }

// The whole text of a printf-style format, however long: log lines are cut
// only once, by io_log, after the secrets have been masked.
std::string vformat(const char* format, va_list ap) {
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(nullptr, 0, format, ap);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, again);
    out.resize(static_cast<std::size_t>(n));
  }
  va_end(again);
  return out;
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

// The update stage, called again on the same session while it fails with
// IO_UPDATE_ERR, the family allows more attempts and, when it says so, the
// switch asked for another one.
int runUpdate(Run& run) {
  const Family& f = run.family;
  Stage st(run, "update");
  int rc = f.update(st);
  for (int attempt = 1; rc == IO_UPDATE_ERR && attempt < f.updateAttempts; ++attempt) {
    if (f.retryWanted != nullptr && !f.retryWanted(run)) break;
    sleep_ms(RETRY_PAUSE_MS);
    io_log("%s:%s: retrying update", f.module, run.req.targetip);
    rc = f.update(st);
  }
  return rc;
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

// --- Parameter checks -------------------------------------------------------

int check_address(const char* targetip, const ParamRules& rules) {
  if (targetip == nullptr) return IO_INV_IP;
  std::array<char, 200> copy{};
  std::snprintf(copy.data(), copy.size(), "%s", targetip);
  char* portText = nullptr;
  const int cls = io_classifyAddr(copy.data(), nullptr, &portText, nullptr);
  if (cls < 0) return IO_INV_IP;
  if (cls == ADDR_HOST_NAME && rules.hostNameRefused) return IO_INV_URL_HOST;
  if (portText != nullptr && !rules.portAllowed) return IO_INV_IP;
  return 0;
}

int check_url(const char* fileurl, const ParamRules& rules) {
  if (missing(fileurl)) return IO_MISSING_URL;
  // A password holding '/' would be taken for a server and a port.
  if (url_slashed_password(fileurl, nullptr, nullptr)) return IO_INV_URL_LOGIN;
  const int u = url_validate(fileurl, rules.schemes);
  if (u == URL_INV_SCHEME || u == URL_BAD_SCHEME_SYNTAX) return IO_INV_URL_SCHEME;
  if (u != URL_OK) return IO_INV_URL_SYNTAX;
  // Only the first 511 characters are judged; a longer URL cannot be taken apart whole.
  if (std::strlen(fileurl) >= URL_WORK_SIZE) return IO_INV_URL_SYNTAX;
  if (rules.plainTypedParts || rules.plainPassword) {
    const int rc = url_typed_parts_plain(fileurl, rules.plainPassword);
    if (rc != 0) return rc;
  }
  return rules.urlRule != nullptr ? rules.urlRule(fileurl) : 0;
}

bool plain_text(std::string_view text) {
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F || c == '"') return false;
  }
  return true;
}

bool plain_server(std::string_view server) {
  if (server.empty()) return false;
  const bool v6 = server.find(':') != std::string_view::npos;
  for (const char c : server) {
    const auto b = static_cast<unsigned char>(c);
    if (std::isxdigit(b) || c == '.' || (v6 && c == ':')) continue;
    if (!v6 && (std::isalnum(b) || c == '-' || c == '_')) continue;
    return false;
  }
  return true;
}

int url_typed_parts_plain(const char* fileurl, bool withPassword) {
  UrlPieces u;
  if (u.read(fileurl) != URL_OK) return IO_INV_URL_SYNTAX;
  if (!plain_server(u.server.data())) return IO_INV_URL_SYNTAX;
  for (const auto* part : {&u.port, &u.login, &u.directory, &u.filename}) {
    if (!plain_text(part->data())) return IO_INV_URL_SYNTAX;
  }
  if (withPassword && !plain_text(u.password.data())) return IO_INV_URL_LOGIN;
  return 0;
}

// --- URL parts, commands, literal patterns, loop limits -------------------------------

int UrlPieces::read(const char* url) {
  int (*const getters[])(const char*, char*, std::size_t) = {url_get_scheme, url_get_server, url_get_port,
                                                             url_get_login, url_get_password, url_get_path,
                                                             url_get_directory, url_get_filename};
  Text* const parts[] = {&scheme, &server, &port, &login, &password, &path, &directory, &filename};
  for (std::size_t i = 0; i < std::size(parts); ++i) {
    if (const int rc = getters[i](url, parts[i]->data(), parts[i]->size()); rc != URL_OK) return rc;
  }
  url_mask_password(url, shown.data(), shown.size());
  return URL_OK;
}

int tftp_parts_rule(const UrlPieces& u) {
  constexpr std::size_t kServerMax = 99, kDirectoryMax = 199, kFileMax = 99;
  const std::string_view port = u.port.data();
  if (!port.empty() && port != "69") return IO_INV_URL_SYNTAX;
  const std::size_t file = std::strlen(u.filename.data());
  const bool within = std::strlen(u.server.data()) <= kServerMax && std::strlen(u.directory.data()) <= kDirectoryMax &&
                      file > 0 && file <= kFileMax;
  return within ? 0 : IO_INV_URL_SYNTAX;
}

namespace {

bool vformat_whole(char* out, std::size_t size, const char* format, va_list ap) {
  if (out == nullptr || size == 0) return false;
  const int n = std::vsnprintf(out, size, format, ap);
  if (n >= 0 && static_cast<std::size_t>(n) < size) return true;
  out[0] = '\0';
  return false;
}

}  // namespace

bool format_whole(char* out, std::size_t size, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  const bool ok = vformat_whole(out, size, format, ap);
  va_end(ap);
  return ok;
}

bool fits(std::size_t size, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  const int n = std::vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  return n >= 0 && static_cast<std::size_t>(n) < size;
}

bool pattern_literal(std::string_view text, char* out, std::size_t size) {
  constexpr std::string_view kSpecial = "$()*+-.?[\\]^";
  constexpr std::size_t kMaxToken = 255;
  if (out == nullptr || size == 0) return false;
  std::size_t n = 0;
  for (const char c : text) {
    const bool special = kSpecial.find(c) != std::string_view::npos;
    if (n + (special ? 2 : 1) >= std::min(size, kMaxToken + 1)) {
      out[0] = '\0';
      return false;
    }
    if (special) out[n++] = '\\';
    out[n++] = c;
  }
  out[n] = '\0';
  return true;
}

LoopLimit::LoopLimit(Stage& st, const char* what, int totalSecs)
    : st_(st), what_(what), totalSecs_(totalSecs), start_(std::chrono::steady_clock::now()) {}

int LoopLimit::check() {
  const auto limit = std::chrono::microseconds(scaled_micros(static_cast<long long>(totalSecs_) * 1000000));
  if (std::chrono::steady_clock::now() - start_ < limit) return 0;
  st_.log(0, "%s: no end after %d seconds\n", what_, totalSecs_);
  return IO_TIMEOUT;
}

AnswerLimit::AnswerLimit(Stage& st, const char* what, int maxAnswers, int code)
    : st_(st), what_(what), max_(maxAnswers), code_(code) {}

int AnswerLimit::next() {
  if (count_ < max_) {
    ++count_;
    return 0;
  }
  st_.log(0, "%s: asked again after %d answers\n", what_, max_);
  return code_;
}

int check_params(const SwitchRequest* req, const ParamRules& rules) {
  if (req == nullptr) return IO_BAD_PARAMS;
  if (const int rc = check_address(req->targetip, rules); rc != 0) return rc;
  if (missing(req->user) || missing(req->password)) return IO_INV_LOGIN;
  // Each is typed as one "%s\r\n" line: longer ones could only be typed cut.
  if (std::strlen(req->user) > kMaxLoginText || std::strlen(req->password) > kMaxLoginText) return IO_INV_LOGIN;
  if (const int rc = check_url(req->fileurl, rules); rc != 0) return rc;
  if (req->debugLevel < 0 || req->debugLevel > 2) return IO_BAD_PARAMS;
  return rules.lastRule != nullptr ? rules.lastRule(*req) : 0;
}

int url_needs_login(const char* fileurl) {
  std::array<char, 100> login{};
  if (url_get_login(fileurl, login.data(), login.size()) != URL_OK) return IO_INV_URL_SYNTAX;
  return login[0] == '\0' ? IO_INV_URL_LOGIN : 0;
}

int ftp_url_needs_login(const char* fileurl) {
  return url_scheme_type(fileurl) == URL_SCHEME_FTP ? url_needs_login(fileurl) : 0;
}

int url_scheme_lower_case(const char* fileurl) {
  for (const char* p = fileurl; *p != '\0' && *p != ':'; ++p) {
    if (std::isupper(static_cast<unsigned char>(*p))) return IO_INV_URL_SCHEME;
  }
  return 0;
}

int map_open_failure(int telnetStatus) {
  if (telnetStatus == TELNET_BAD_HOST) return IO_INV_IP;
  if (telnetStatus == TELNET_NO_IPSTACK) return IO_NO_IPSTACK;
  return IO_CONN_ERR;
}

char* format_cut(char* out, std::size_t size, const char* format, ...) {
  if (out == nullptr || size == 0) return out;
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(out, size, format, ap);
  va_end(ap);
  return out;
}

char* maskPassword(const char* password, char* out, std::size_t size) {
  if (password == nullptr || out == nullptr || size == 0) return nullptr;
  const std::size_t n = std::min(std::strlen(password), size - 1);
  std::memset(out, '*', n);
  out[n] = '\0';
  return out;
}

// --- A module run -------------------------------------------------------------

Run::Run(const Family& f, const SwitchRequest& r) : family(f), req(r), text(f.switchTextSize) {}

Run::~Run() {
  if (handle >= 0) telnet_close(handle);  // a stage left it open: never leak the socket
  while (!secrets_.empty()) secrets_.pop_back();
}

void Run::addSecret(std::string_view secret) {
  if (!secret.empty()) {
    secrets_.push_back(
        std::make_unique<SecretScope>(std::initializer_list<std::string_view>{secret}, SecretMatch::Whole));
  }
}


int Run::connect() {
  const Family& f = family;
  std::snprintf(addr_.data(), addr_.size(), "%s", req.targetip);
  char* hostPart = nullptr;
  int portNum = 0;
  io_classifyAddr(addr_.data(), &hostPart, nullptr, &portNum);  // the check has judged it already
  host = hostPart != nullptr ? hostPart : addr_.data();
  port = f.openOnAddressPort ? portNum : 0;
  // A family that opens the address's own port names the address as given.
  const char* shownAddr = f.openOnAddressPort ? req.targetip : host;
  Stage st(*this, "connect", shownAddr, req.targetip, req.debugLevel);

  if (req.debugLevel >= 2) {
    io_log("%s:connect: ip=%s user=%s pw=<NOT SHOWN>\n", f.module, shownAddr, req.user);
  }
  const TelnetHandle h = telnet_open(host, port);
  if (h < 0) {
    st.log(0, "telnet_open error=%d (%s)\n", h, telnet_strerror(h));
    return map_open_failure(h);
  }
  handle = h;
  st.log(2, "telnet_open success: handle=%d\n", h);
  text.clear();

  int rc = f.login(st);
  if (rc >= 0 && req.debugLevel >= 1) {
    st.log(1, "%s\n", f.loggedIn);
    if (f.logConfigInfo != nullptr) {
      Stage info(*this, "logConfigInfo", shownAddr, shownAddr, 0);
      rc = f.logConfigInfo(info);
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
  if (req.debugLevel >= 2) io_log("%s:disconnect:%s: closing handle=%d\n", family.module, req.targetip, handle);
  telnet_close(handle);
  handle = -1;
}

// --- Stages -----------------------------------------------------------------

Stage::Stage(Run& r, const char* name) : Stage(r, name, r.req.targetip, r.req.targetip, r.req.debugLevel) {}

Stage::Stage(Run& r, const char* name, const char* address, const char* exchangeAddress, int debugLevel)
    : run(r), name_(name), address_(address), exchangeAddress_(exchangeAddress), debugLevel_(debugLevel) {}

int Stage::talk(ExpectRef exp, const char* cmd, int timeoutSecs, int expIndex, int respSize, bool keepText) {
  if (debugLevel_ >= 2) io_log("%s:%s:%s: expect array=%s\n", module(), name_, exchangeAddress_, exp.name);
  int size = std::clamp(run.family.responseSize, 2, Run::kMaxResponse);
  if (respSize > 0 && respSize < size) size = respSize;
  run.response[0] = '\0';
  const int rc = io_cmd_resp(run.handle, cmd, exp.patterns, timeoutSecs, 0, run.response.data(), size, expIndex,
                             debugLevel_);
  if (keepText && (rc >= 0 || rc == IO_TIMEOUT)) run.text.append(run.response.data());
  if (rc < 0) {
    io_log("%s:%s:%s: %s error=%d (%s)\n", module(), name_, exchangeAddress_, exp.name, rc, err2String(rc));
  }
  return rc;
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

int Stage::write(const char* text) { return text != nullptr ? telnet_write(run.handle, text) : notTyped(); }

void Stage::log(int minLevel, const char* format, ...) {
  if (debugLevel_ < minLevel) return;
  va_list ap;
  va_start(ap, format);
  const std::string text = vformat(format, ap);
  va_end(ap);
  io_log("%s:%s:%s: %s", module(), name_, address_, text.c_str());
}

int login_user_password(Stage& st, ExpectRef user, ExpectRef password, ExpectRef prompt, int secs) {
  const SwitchRequest& req = st.run.req;
  int rc = st.wait(user, secs);
  if (rc < 0) return rc;
  if (rc == 1) {
    st.log(0, "PROBABLE FIREWALL INTERCEPT - NEED TO AUTHENTICATE\n");
    return IO_CONN_ERR;
  }
  st.log(1, "have User prompt\n");

  rc = st.exchange(password, st.cmdf("%s\r\n", req.user), secs, 0);
  if (rc < 0) return rc;
  if (rc == 1) return IO_CONN_ERR;  // asked for the user again
  st.log(1, "have Password prompt\n");

  rc = st.exchange(prompt, st.cmdf("%s\r\n", req.password), secs);
  if (rc < 0) return rc;
  if (rc == 1) {
    st.log(0, "exp_prompt: got Invalid: \"%s\"\n", st.reply());
    return IO_BAD_SWITCH_LOGIN;
  }
  return 0;
}

// --- The whole call -------------------------------------------------------------

int run_module(const Family& f, const SwitchRequest* req, char* errText, int errTextSize) {
  const RequestSecrets s(req);
  const SecretScope secrets{s.password, s.urlPassword};

  if (const int rc = check_params(req, f.params); rc != 0) {
    const char* ip = req != nullptr ? req->targetip : nullptr;  // null: "Unknown switch"
    composeError(f, ip, rc, nullptr, errText, errTextSize);
    if (rc == IO_INV_URL_LOGIN && errText != nullptr && url_slashed_password(req->fileurl, nullptr, nullptr)) {
      const std::size_t used = std::strlen(errText);
      format_cut(errText + used, static_cast<std::size_t>(errTextSize) - used, ": %s", URL_SLASHED_PASSWORD_ADVICE);
    }
    if (req != nullptr && req->debugLevel == 2 && errText != nullptr) {
      io_log("%s:%s: param error: %s\n", f.module, ip != nullptr ? ip : "Unknown switch", errText);
    }
    return rc;
  }
  if (req->checkOnly) return 0;

  Run run(f, *req);
  if (req->debugLevel >= 1) io_log("%s: connecting to %s ip=%s\n", f.module, f.target, req->targetip);
  if (const int rc = run.connect(); rc < 0) return fail(run, "connect", rc, errText, errTextSize);

  const int rc = runUpdate(run);
  if (rc == IO_SUCCESS_STOP) {
    if (f.onStop != nullptr) f.onStop(run);
    run.disconnect();
    if (f.afterStop != nullptr) f.afterStop(run);
    return 0;
  }
  if (rc < 0) return fail(run, "update", rc, errText, errTextSize);

  if (f.reboot != nullptr && req->reboot) {
    Stage st(run, "reboot");
    if (const int rb = f.reboot(st); rb < 0) return fail(run, "reboot", rb, errText, errTextSize);
  }
  run.disconnect();
  return 0;
}

}  // namespace modburn
