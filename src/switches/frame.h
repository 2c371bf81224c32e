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
#include <cstddef>
#include <memory>
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
  int (*urlRule)(const char* fileurl) = nullptr;    // 0 or an IoStatus
  int (*lastRule)(const SwitchRequest&) = nullptr;  // 0 or an IoStatus
};

// The address test alone, on a 200-byte copy: 0 or the IoStatus of its defect.
int check_address(const char* targetip, const ParamRules& rules);
// The URL tests alone (present, valid for the schemes, the family's rule).
int check_url(const char* fileurl, const ParamRules& rules);
// Every test in order: 0 or the IoStatus of the first defect.
int check_params(const SwitchRequest* req, const ParamRules& rules);

// Stock URL rules. The URL must carry a login (IO_INV_URL_LOGIN; a URL whose
// login cannot be taken gives IO_INV_URL_SYNTAX).
int url_needs_login(const char* fileurl);
// The same, for FTP URLs only.
int ftp_url_needs_login(const char* fileurl);
// The scheme must be written in lower case (IO_INV_URL_SCHEME otherwise).
int url_scheme_lower_case(const char* fileurl);

// --- A module run -------------------------------------------------------------

class Run;
class Stage;

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
  // Runs when the update returns IO_SUCCESS_STOP, before the session closes.
  void (*onStop)(Run& run) = nullptr;
  // Cleans the switch text into out before it is quoted in the error text.
  void (*cleanText)(const char* text, char* out, std::size_t size) = nullptr;

  const char* loggedIn = "have command prompt";  // the connect stage's "logged in" line
  bool openOnAddressPort = false;  // open the port the address names; connect lines show the address
  int updateAttempts = 1;          // more than 1: retried while it fails with IO_UPDATE_ERR
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
  // Registers what a command cut to its buffer still holds of a secret (its
  // first characters at the command's end); nothing when it holds all or none.
  void addCutSecret(std::string_view command, std::string_view secret);

 private:
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
  // (cmd may be null: only wait) into the run's response buffer, bounded by
  // respSize when it is given; the answer added to the switch text after a
  // match or a time-out; the error line after any failure. Returns the
  // matched index or the negative IoStatus.
  int exchange(ExpectRef exp, const char* cmd, int timeoutSecs, int expIndex = -1, int respSize = 0);
  // An exchange that types nothing.
  int wait(ExpectRef exp, int timeoutSecs, int expIndex = -1, int respSize = 0) {
    return exchange(exp, nullptr, timeoutSecs, expIndex, respSize);
  }
  // What the last exchange left in the response buffer.
  const char* reply() const { return run.response.data(); }
  // text escaped for a log line (200 bytes, secrets masked), in the stage's own buffer.
  const char* shown(const char* text);

  // Formats a command (a user name or password with its line end, a
  // download command) into the stage's 200-byte command buffer; returns it.
  const char* cmdf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Types text without waiting: telnet_write's result.
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
  const char* name_;
  const char* address_;
  const char* exchangeAddress_;
  int debugLevel_;
  std::array<char, 200> shown_{};
  std::array<char, 200> cmd_{};
};

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
