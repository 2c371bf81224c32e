// The switch-console simulator: a small TELNET server that plays a scenario
// (scenario.h) to one client at a time and records every line the client
// types. Used in-process by the tests (SimulatedSwitch) and by the switchsim
// program (serve).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "scenario.h"

namespace switchsim {

// A fault the switch commits right after the client has typed a given line:
// it closes the session in order (FIN), resets it (RST), or stalls (reads
// and writes nothing more until the client goes or stall_max_ms pass); or it
// turns hostile until the client goes (at most stall_max_ms): Flood prints
// flood_bytes without a line end, IacFlood sends TELNET commands and
// subnegotiations (flood_bytes of them), Chatter prints a progress line
// every few milliseconds, Garbage prints NUL and 0xFF bytes among text,
// EndlessSub opens a subnegotiation (IAC SB) and sends its bytes for ever
// without the IAC SE that would end it, Drip prints one byte every drip_ms
// and never a line end, Escapes prints lines full of terminal sequences and
// C1 controls (raw and in UTF-8). The switch then closes.
enum class Fault { None, Close, Reset, Stall, Flood, IacFlood, Chatter, Garbage, EndlessSub, Drip, Escapes };

struct SimOptions {
  bool echo_password = false;     // echo typed text even where the scenario hides it
  int accept_timeout_ms = 30000;  // how long to wait for each client; -1: for ever
  int sessions = 1;               // sessions served one after another; 0: until stopped
  Fault fault = Fault::None;      // committed once the client has typed fault_after_lines lines
  int fault_after_lines = 0;
  int stall_max_ms = 60000;       // longest stall or hostile spell before the switch closes
  std::size_t flood_bytes = 10 * 1024 * 1024;
  int drip_ms = 200;              // Drip: the pause between two bytes
  bool echo_twice = false;        // echo every typed byte back twice
  // Wrapping echo: a line editor's echo on a terminal of this many columns
  // (0: no wrapping). Each time the echo of a typed line reaches the last
  // column, the switch inserts a blank and a bare carriage return, which
  // reaches the client as " \r\0" (CR NUL, as TELNET sends a bare CR).
  int wrap_echo_columns = 0;
  // Receives each transcript line as it is made (without a line end); may be empty.
  std::function<void(const std::string&)> transcript;
  // The user the console greets in its prompts: the ${user} of its texts.
  // Over SSH the program sets the session's user.
  std::string user = "admin";
};

// What one session saw and how it ended.
struct SessionResult {
  bool accepted = false;    // a client connected
  bool completed = false;   // every step ran (each expect was met)
  std::string outcome;      // "completed" or why the session stopped early
  std::string stopped_at;   // "file:line" of the step it stopped at; empty when completed
  std::string peer;         // the client's address:port
  std::vector<std::string> received;     // every typed line, its line end included ("reload\r\n", "\x03")
  std::vector<std::string> negotiation;  // the client's TELNET commands ("WONT TTYPE", "DONT SGA")
  bool client_closed = false;  // the client closed in order (FIN)
  bool client_reset = false;   // the client reset the connection (RST)
  bool fault_fired = false;    // the fault of the options was committed

  // True when some typed line, its line end left out, equals text.
  bool typed(std::string_view text) const;
  // The typed lines with their line ends left out.
  std::vector<std::string> lines() const;
};

// A typed line without its line end: "reload\r\n" gives "reload".
std::string_view line_text(std::string_view item);

// Path of a scenario bundled with the simulator, e.g. "brocade/success.scn".
std::string scenario_path(std::string_view relative);

// Raised once to end every wait of the sessions and accept loops that share it.
class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;
  // Wakes every waiter; safe from a signal handler.
  void raise();
  // Readable once raised; for poll.
  int fd() const { return fds_[0]; }

 private:
  int fds_[2] = {-1, -1};
};

// A listening TCP socket on one address and port.
class Listener {
 public:
  Listener() = default;
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  // Binds address (IPv4 or IPv6 literal) and port (0 picks a free one) and
  // listens; false with error set when that fails.
  bool open(const std::string& address, uint16_t port, std::string& error);
  void close();
  // Listens again on the address and port it last listened on.
  bool reopen(std::string& error);
  int fd() const { return fd_; }
  uint16_t port() const { return port_; }
  // "address:port" ("[addr]:port" for IPv6).
  std::string name() const;

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
  std::string address_;
};

class Firmware;

// Plays sc on the connected socket fd (which it closes) and returns what
// happened; session counts sessions in the transcript. Returns early when
// stop_fd becomes readable (-1: no stop). The switch's firmware starts as sc
// declares it, or is firmware, shared with the switch's other sessions.
SessionResult play_session(int fd, const Scenario& sc, const SimOptions& opts, int stop_fd,
                           int session = 1);
SessionResult play_session(int fd, const Scenario& sc, const SimOptions& opts, int stop_fd, int session,
                           Firmware& firmware);

// Plays sc once on a pair of descriptors (standard input and output, say, as
// the forced command of an SSH server) with no TELNET: no option requests,
// every byte typed is console text, a byte 255 goes out once. A terminal is
// put into raw mode for the session and restored after it. out_fd is closed
// when the scenario closes the session (a terminal hangs up only when the
// program ends). peer names the client in the transcript.
SessionResult play_stdio(int in_fd, int out_fd, const Scenario& sc, const SimOptions& opts, int stop_fd,
                         const std::string& peer);

// One row of a whitespace-separated table file ('#' starts a comment).
struct TableRow {
  int line = 0;
  std::vector<std::string> words;
};
// Reads the rows of a table file, blank lines left out; false with error set
// when the file cannot be read.
bool read_table(const std::string& path, std::vector<TableRow>& rows, std::string& error);
// path as seen from the folder of file (absolute paths stay as they are).
std::string relative_to(const std::string& file, const std::string& path);

// A console map says which scenario an SSH session plays, by the user it
// logged in as or the server port it reached: one rule per line,
// "user:NAME SCENARIO", "port:N SCENARIO" or "* SCENARIO" (any session);
// the first rule that fits wins. Scenario paths are relative to the map.
// A rule may add "faults:FILE": the fault its sessions commit is read from
// FILE as each session starts (see read_fault_file), so that a test can
// change it between sessions.
struct ConsoleRule {
  std::string key;         // "user:NAME", "port:N" or "*"
  std::string scenario;    // the scenario file, resolved against the map's folder
  std::string fault_file;  // the fault file, resolved likewise; empty: none
};
// Reads a console map; false with error "FILE:LINE: message" on a bad rule.
bool read_console_map(const std::string& path, std::vector<ConsoleRule>& rules, std::string& error);
// The first rule that fits user or port; null when none does.
const ConsoleRule* pick_rule(const std::vector<ConsoleRule>& rules, std::string_view user, int port);
// The scenario of the first rule that fits user or port; empty when none does.
std::string pick_console(const std::vector<ConsoleRule>& rules, std::string_view user, int port);
// Sets the fault of opts from a fault file: "KIND AFTER_LINES [MAX_MS]",
// KIND one of close, reset, stall, flood, iac-flood, chatter, garbage,
// endless-sub, drip, escapes; MAX_MS the longest stall or hostile spell. A
// file that is missing or empty leaves opts as they are. False with error
// set when the text is none of these.
bool read_fault_file(const std::string& path, SimOptions& opts, std::string& error);
// Client and server port of an SSH session from the text of SSH_CONNECTION
// ("CLIENT_ADDR CLIENT_PORT SERVER_ADDR SERVER_PORT"): peer becomes
// "addr:port" ("[addr]:port" for IPv6); false when the text is not of that form.
bool parse_ssh_connection(std::string_view text, std::string& peer, int& server_port);

// Accepts clients on listener and plays sc to each in turn, opts.sessions
// times (or until stopped, or until no client comes within the accept
// time-out); on_session gets each result. The sessions share the switch's
// firmware; after a session that rebooted it, the console is gone for the
// scenario's reboot-down-ms before the next session is accepted.
void serve(Listener& listener, const Scenario& sc, const SimOptions& opts, int stop_fd,
           const std::function<void(const SessionResult&)>& on_session);

// A simulated switch on a background thread, for tests: start binds at once
// (so a client may connect as soon as it returns), then serves on its thread.
class SimulatedSwitch {
 public:
  SimulatedSwitch() = default;
  ~SimulatedSwitch();  // stops and joins
  SimulatedSwitch(const SimulatedSwitch&) = delete;
  SimulatedSwitch& operator=(const SimulatedSwitch&) = delete;

  // Starts serving sc on address:port; false with error set when the address
  // cannot be bound.
  bool start(const std::string& address, uint16_t port, Scenario sc, SimOptions opts,
             std::string* error = nullptr);
  // Loads the scenario file first; a scenario error also gives false.
  bool start_file(const std::string& address, uint16_t port, const std::string& scenario_file,
                  SimOptions opts, std::string* error = nullptr);
  uint16_t port() const { return listener_.port(); }
  // Waits until serving has ended and returns the last session's result
  // (accepted false when no client came).
  SessionResult wait();
  // Waits until serving has ended and returns every session's result.
  std::vector<SessionResult> wait_all();
  // Ends the sessions and the accept wait now.
  void stop();

 private:
  Listener listener_;
  StopSignal stop_;
  Scenario scenario_;
  SimOptions options_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<SessionResult> results_;
};

}  // namespace switchsim
