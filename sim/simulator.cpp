#include "simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <utility>

#include "firmware.h"

#ifndef SWITCHSIM_SCENARIO_DIR
#define SWITCHSIM_SCENARIO_DIR "sim/scenarios"
#endif

namespace switchsim {

namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;
constexpr Clock::time_point kNever = Clock::time_point::max();

// How long an orderly close waits for the client's last bytes and its close.
constexpr int kDrainMs = 500;
// How long one write may wait for room in a client's receive window.
constexpr int kWriteWaitMs = 10000;

Clock::time_point after_ms(long long ms) { return Clock::now() + Millis(ms); }

std::string peer_name(int fd) {
  sockaddr_storage sa{};
  socklen_t len = sizeof sa;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return "?";
  char host[INET6_ADDRSTRLEN] = "?";
  if (sa.ss_family == AF_INET) {
    auto* in = reinterpret_cast<sockaddr_in*>(&sa);
    inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(in->sin_port));
  }
  auto* in6 = reinterpret_cast<sockaddr_in6*>(&sa);
  inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
  return "[" + std::string(host) + "]:" + std::to_string(ntohs(in6->sin6_port));
}

// Where a session's bytes come from and go to: one TCP socket speaking
// TELNET, or a pair of descriptors (standard input and output, a terminal or
// pipes) carrying the console's text as it is.
struct Endpoint {
  int in_fd = -1;
  int out_fd = -1;
  bool telnet = true;  // a TELNET socket: option requests, IAC handling, 255 doubled
  std::string peer;    // the client's name in the transcript
};

// One client connection playing one scenario.
class Session {
 public:
  Session(Endpoint ep, const Scenario& sc, const SimOptions& opts, int stop_fd, int number, Firmware& firmware)
      : in_fd_(ep.in_fd), out_fd_(ep.out_fd), telnet_(ep.telnet), sc_(sc), opts_(opts), stop_fd_(stop_fd),
        number_(number), firmware_(firmware) {
    echo_password_ = opts.echo_password || sc.options.echo_password;
    result_.peer = std::move(ep.peer);
  }

  SessionResult run() {
    result_.accepted = true;
    note("= session " + std::to_string(number_) + " peer " + result_.peer + " scenario " + sc_.name);
    if (telnet_) write_raw(sc_.options.opening);
    bool finished = true;
    for (const Step& step : sc_.steps) {
      // Over SSH the server has logged the user in: the console's own login is not played.
      if (step.console_login && !telnet_) continue;
      if (!run_step(step)) {
        finished = false;
        break;
      }
    }
    if (finished) {
      result_.completed = true;
      result_.outcome = "completed";
      if (!ended_) linger();
    }
    close_orderly();
    flush_received(true);
    note(result_.completed ? "= end completed"
                           : "= end stopped at " + result_.stopped_at + ": " + result_.outcome);
    return std::move(result_);
  }

 private:
  enum class Wake { Line, Deadline, Closed, Stopped };

  // --- steps -------------------------------------------------------------

  // Runs one step; false when the session stops there.
  bool run_step(const Step& step) {
    switch (step.kind) {
      case StepKind::Send:
        say(step.text);
        return true;
      case StepKind::Iac:
        flush_received(true);
        note("> " + escape(step.text));
        write_raw(step.text);
        return true;
      case StepKind::Pause:
        return pump(after_ms(step.ms), false) != Wake::Stopped || stop(step, "stopped");
      case StepKind::NoEcho:
        hide_ = step.on;
        return true;
      case StepKind::Reply:
        rules_.push_back(&step);
        return true;
      case StepKind::Expect:
        return expect(step);
      case StepKind::Silence:
        return silence(step);
      case StepKind::Close:
        close_orderly();
        ended_ = true;
        return true;
      case StepKind::Install:
      case StepKind::Reboot:
        return firmware_step(step);
    }
    return true;
  }

  // A download took: the version given, or the one of the image named in
  // the last typed line that named one. A restart: the installed image runs.
  bool firmware_step(const Step& step) {
    flush_received(true);
    if (step.kind == StepKind::Reboot) {
      firmware_.reboot();
      note("= reboot: running " + firmware_.running());
      return true;
    }
    if (!firmware_.install(step.text, last_image_line_)) {
      return stop(step, "install: no version given and no typed line names an image file");
    }
    note("= install " + firmware_.installed());
    return true;
  }

  bool expect(const Step& step) {
    Clock::time_point deadline = after_ms(sc_.options.expect_timeout_ms);
    for (;;) {
      switch (pump(deadline, true)) {
        case Wake::Line: {
          std::string line = std::move(queue_.front());
          queue_.pop_front();
          if (step.pattern.matches(line)) return true;
          if (answer(line)) continue;
          return stop(step, "unexpected line \"" + escape(line) + "\" while expecting \"" +
                                step.pattern.shown() + "\"");
        }
        case Wake::Closed:
          return stop(step, "client closed while expecting \"" + step.pattern.shown() + "\"");
        case Wake::Deadline:
          return stop(step, "nothing typed within " + std::to_string(sc_.options.expect_timeout_ms) +
                                " ms while expecting \"" + step.pattern.shown() + "\"");
        case Wake::Stopped:
          return stop(step, "stopped");
      }
    }
  }

  // Says nothing and echoes nothing; an open-ended silence lasts until the
  // client gives up and closes, which ends the session.
  bool silence(const Step& step) {
    silent_ = true;
    int ms = step.ms > 0 ? step.ms : sc_.options.silence_max_ms;
    Wake wake = pump(after_ms(ms), false);
    silent_ = false;
    if (wake == Wake::Stopped) return stop(step, "stopped");
    if (step.ms > 0) return true;
    if (wake == Wake::Deadline) {
      return stop(step, "client still connected after " + std::to_string(ms) + " ms of silence");
    }
    ended_ = true;
    return true;
  }

  // After the last step: answer lines by the reply rules until the client
  // closes or the linger time runs out.
  void linger() {
    Clock::time_point deadline = after_ms(sc_.options.linger_ms);
    for (;;) {
      Wake wake = pump(deadline, true);
      if (wake != Wake::Line) return;
      std::string line = std::move(queue_.front());
      queue_.pop_front();
      answer(line);
    }
  }

  bool stop(const Step& step, std::string why) {
    result_.stopped_at = step.where;
    result_.outcome = result_.fault_fired ? fault_outcome_ : std::move(why);
    return false;
  }

  // Answers line by the newest reply rule that matches it; false when none does.
  bool answer(const std::string& line) {
    for (auto rule = rules_.rbegin(); rule != rules_.rend(); ++rule) {
      if ((*rule)->pattern.matches(line)) {
        say((*rule)->text);
        return true;
      }
    }
    return false;
  }

  // --- output ------------------------------------------------------------

  // Prints console text, its version fields filled in; under TELNET a data
  // byte 255 goes out doubled.
  void say(std::string_view scripted) {
    std::string greeted(scripted);
    // The user first: a text that shows no version is no listing, whatever its user.
    for (size_t at = 0; (at = greeted.find("${user}", at)) != std::string::npos; at += opts_.user.size()) {
      greeted.replace(at, 7, opts_.user);
    }
    const std::string text = firmware_.fill(greeted);
    flush_received(true);
    note("> " + escape(text));
    std::string wire;
    for (char c : text) {
      wire += c;
      if (c == '\xff' && telnet_) wire += c;
    }
    write_raw(wire);
  }

  // One write of the endpoint: a socket never raises SIGPIPE; the program
  // that plays on standard output ignores it.
  ssize_t write_some(std::string_view bytes) {
    if (telnet_) return ::send(out_fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    return ::write(out_fd_, bytes.data(), bytes.size());
  }

  void write_raw(std::string_view bytes) {
    while (!bytes.empty() && !peer_gone_ && !write_closed_) {
      ssize_t n = write_some(bytes);
      if (n > 0) {
        bytes.remove_prefix(static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd p{out_fd_, POLLOUT, 0};
        if (::poll(&p, 1, kWriteWaitMs) > 0) continue;
      }
      if (n < 0 && errno == ECONNRESET) result_.client_reset = true;
      peer_gone_ = true;
    }
  }

  void note(const std::string& line) {
    if (opts_.transcript) opts_.transcript(line);
  }

  void close_orderly() {
    if (write_closed_) return;
    if (telnet_) {
      ::shutdown(out_fd_, SHUT_WR);
    } else if (out_fd_ != in_fd_) {
      // A pipe's reader sees the end once its writer is closed; a terminal
      // hangs up only when the program ends.
      ::close(out_fd_);
    }
    write_closed_ = true;
    // Keep reading for a moment so that the client's last keystrokes are
    // recorded and its close is seen.
    pump(after_ms(kDrainMs), false);
  }

  // --- input -------------------------------------------------------------

  // Reads, strips TELNET commands, echoes and splits typed lines until the
  // deadline, or until a line is waiting when want_line is set.
  Wake pump(Clock::time_point deadline, bool want_line) {
    for (;;) {
      if (fault_due_) return commit_fault();
      if (want_line && !queue_.empty()) return Wake::Line;
      if (peer_gone_ || input_gone_) return Wake::Closed;
      Clock::time_point now = Clock::now();
      Clock::time_point idle_end = kNever;
      if (!partial_.empty()) {
        idle_end = last_byte_ + Millis(sc_.options.idle_ms);
        if (now >= idle_end) {
          end_line(std::move(partial_), "");
          partial_.clear();
          flush_received(false);
          continue;
        }
      }
      if (now >= deadline) return Wake::Deadline;
      Clock::time_point wake = std::min(deadline, idle_end);
      int timeout = -1;
      if (wake != kNever) {
        auto left = std::chrono::ceil<Millis>(wake - now).count();
        timeout = static_cast<int>(std::min<long long>(left, 1000000));
      }
      pollfd p[2] = {{in_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
      int n = ::poll(p, stop_fd_ >= 0 ? 2 : 1, timeout);
      if (n < 0 && errno != EINTR) return Wake::Stopped;
      if (n <= 0) continue;
      if (stop_fd_ >= 0 && (p[1].revents & POLLIN)) return Wake::Stopped;
      if (p[0].revents) receive();
    }
  }

  void receive() {
    unsigned char buf[4096];
    ssize_t n = telnet_ ? ::recv(in_fd_, buf, sizeof buf, MSG_DONTWAIT) : ::read(in_fd_, buf, sizeof buf);
    if (n > 0) {
      for (ssize_t i = 0; i < n; ++i) {
        if (telnet_) {
          telnet_byte_in(buf[i]);
        } else {
          data_in(buf[i]);
        }
      }
      flush_received(false);
      return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    // A terminal whose other side has gone reads as an error (EIO): the
    // client has closed.
    if (n < 0 && errno == EIO && !telnet_) n = 0;
    if (!partial_.empty()) {
      end_line(std::move(partial_), "");
      partial_.clear();
    }
    flush_received(true);
    // The end of a pipe's input says nothing of its output: the console may
    // still print. A socket or a terminal that ends has gone both ways.
    input_gone_ = true;
    if (telnet_ || in_fd_ == out_fd_) peer_gone_ = true;
    if (n == 0) {
      result_.client_closed = true;
      note("= client closed");
    } else {
      if (errno == ECONNRESET) result_.client_reset = true;
      note(std::string("= client ") + (errno == ECONNRESET ? "reset" : std::strerror(errno)));
    }
  }

  // TELNET receive state machine: one byte at a time.
  void telnet_byte_in(unsigned char b) {
    switch (in_) {
      case In::Data:  // console text; IAC starts a command
        if (b == 255) {
          in_ = In::Iac;
        } else {
          data_in(b);
        }
        return;
      case In::Iac:  // the command byte after IAC
        if (b == 255) {
          in_ = In::Data;
          data_in(b);
        } else if (b >= 251) {
          verb_ = b;
          in_ = In::Option;
        } else if (b == 250) {
          sub_.clear();
          in_ = In::Sub;
        } else {
          in_ = In::Data;
          client_command(telnet_name(b, false));
        }
        return;
      case In::Option:  // the option of WILL, WONT, DO or DONT
        in_ = In::Data;
        client_command(telnet_name(verb_, false) + " " + telnet_name(b, true));
        return;
      case In::Sub:  // subnegotiation bytes up to IAC SE
        if (b == 255) {
          in_ = In::SubIac;
        } else {
          sub_ += static_cast<char>(b);
        }
        return;
      case In::SubIac:  // IAC inside a subnegotiation: SE ends it, IAC is a data 255
        if (b == 240) {
          in_ = In::Data;
          std::string text = "SB";
          for (size_t i = 0; i < sub_.size(); ++i) {
            text += " " + telnet_name(static_cast<unsigned char>(sub_[i]), i == 0);
          }
          client_command(text);
        } else {
          sub_ += static_cast<char>(b);
          in_ = In::Sub;
        }
        return;
    }
  }

  void client_command(const std::string& text) {
    flush_received(true);
    result_.negotiation.push_back(text);
    note("= client " + text);
  }

  bool echoing() const { return !silent_ && (!hide_ || echo_password_); }

  void echo(std::string_view bytes) {
    if (silent_) return;
    write_raw(bytes);
    if (opts_.echo_twice) write_raw(bytes);
  }

  // Console text typed by the client: lines end at CR (with a following LF or
  // NUL belonging to it), at LF, and after idle_ms without a further byte;
  // every other control character is a line of its own (control-C, ESC, TAB).
  void data_in(unsigned char b) {
    if (cr_open_) {
      cr_open_ = false;
      if (b == '\n' || b == '\0') {
        result_.received.back() += static_cast<char>(b);
        return;
      }
    }
    if (b == '\r' || b == '\n') {
      end_line(std::move(partial_), std::string(1, static_cast<char>(b)));
      partial_.clear();
      cr_open_ = b == '\r';
      echo("\r\n");
      echo_column_ = 0;
      return;
    }
    if (b == '\0') return;
    if (b < 0x20 || b == 0x7f) {
      if (!partial_.empty()) end_line(std::move(partial_), "");
      partial_.clear();
      end_line(std::string(1, static_cast<char>(b)), "");
      if (b == 0x03 && echoing()) echo("^C\r\n");
      echo_column_ = 0;
      return;
    }
    char c = static_cast<char>(b);
    partial_ += c;
    last_byte_ = Clock::now();
    if (echoing()) {
      echo(b == 255 && telnet_ ? std::string_view("\xff\xff", 2) : std::string_view(&c, 1));
      wrap_echo();
    }
  }

  // A line editor on a terminal of wrap_echo_columns columns: once the echo
  // fills the last column it moves to the next row with a blank and a bare
  // carriage return, sent as CR NUL.
  void wrap_echo() {
    if (opts_.wrap_echo_columns <= 0 || ++echo_column_ < opts_.wrap_echo_columns) return;
    echo_column_ = 0;
    write_raw(std::string_view(" \r\0", 3));
  }

  void end_line(std::string text, const std::string& end) {
    if (!hide_ && !image_version(text).empty()) last_image_line_ = text;
    result_.received.push_back(text + end);
    queue_.push_back(std::move(text));
    if (opts_.fault != Fault::None && !result_.fault_fired &&
        result_.received.size() == static_cast<size_t>(opts_.fault_after_lines)) {
      fault_due_ = true;
    }
  }

  // Plays the hostile console of the options until the client goes, the
  // spell's time is up or (for the floods) all bytes are out.
  void hostile() {
    const Clock::time_point end = after_ms(opts_.stall_max_ms);
    std::size_t sent = 0;
    for (long n = 0; !peer_gone_ && Clock::now() < end; ++n) {
      std::string chunk;
      switch (opts_.fault) {
        case Fault::Flood: chunk.assign(64 * 1024, 'x'); break;
        case Fault::IacFlood:
          for (int i = 0; i < 1000; ++i) {
            chunk += "\xff\xfb\x01\xff\xfd\x18\xff\xfa\x18\x01";  // WILL ECHO, DO TTYPE, SB TTYPE SEND
            chunk += std::string(40, 'q');                           // a long subnegotiation
            chunk += "\xff\xf0\xff\xf1";                             // SE, NOP
          }
          break;
        case Fault::Chatter:
          chunk = "progress " + std::to_string(n % 100) + "%\r\n";
          break;
        case Fault::Garbage:
          chunk = std::string("\0\0\xff\xff\xffjunk\0\xff\xff\r\n", 14);
          break;
        case Fault::EndlessSub:  // IAC SB TTYPE once, then its bytes without an IAC SE
          chunk = n == 0 ? std::string("\xff\xfa\x18", 3) : std::string(64, 'q');
          break;
        case Fault::Drip:
          chunk = std::string(1, static_cast<char>('a' + n % 26));
          break;
        case Fault::Escapes:  // clear the screen, retitle the window, CSI raw and in UTF-8, overwrite the line
          chunk = "\x1b[2J\x1b]0;owned\x07\x9b" "31m\xc2\x9b" "0m\xc2\x85progress\rupdate succeeded\r\n";
          break;
        default: return;
      }
      write_raw(chunk);
      sent += chunk.size();
      if ((opts_.fault == Fault::Flood || opts_.fault == Fault::IacFlood) && sent >= opts_.flood_bytes) return;
      // Keep taking what the client types, and let it breathe between sends.
      pump(after_ms(pause_between_sends()), false);
    }
  }

  int pause_between_sends() const {
    switch (opts_.fault) {
      case Fault::Chatter:
      case Fault::Garbage:
      case Fault::Escapes: return 5;
      case Fault::EndlessSub: return 1;
      case Fault::Drip: return opts_.drip_ms;
      default: return 0;
    }
  }

  // Commits the fault of the options; the session ends with it.
  Wake commit_fault() {
    fault_due_ = false;
    result_.fault_fired = true;
    const std::string after = " after line " + std::to_string(opts_.fault_after_lines);
    flush_received(true);
    switch (opts_.fault) {
      case Fault::Close:
        fault_outcome_ = "fault: closed" + after;
        note("= fault: close");
        close_orderly();
        break;
      case Fault::Reset: {
        fault_outcome_ = "fault: reset" + after;
        note("= fault: reset");
        struct ::linger lin{1, 0};  // closing with a zero linger time sends RST
        ::setsockopt(out_fd_, SOL_SOCKET, SO_LINGER, &lin, sizeof lin);
        write_closed_ = true;
        break;
      }
      case Fault::Stall: {
        fault_outcome_ = "fault: stalled" + after;
        note("= fault: stall");
        // Neither reads nor writes; only the client's going (or a stop) ends it.
        pollfd p[2] = {{in_fd_, POLLRDHUP, 0}, {stop_fd_, POLLIN, 0}};
        const Clock::time_point end = after_ms(opts_.stall_max_ms);
        while (Clock::now() < end) {
          const auto left = std::chrono::ceil<Millis>(end - Clock::now()).count();
          const int n = ::poll(p, stop_fd_ >= 0 ? 2 : 1, static_cast<int>(std::min<long long>(left, 1000)));
          if (n > 0 && (p[0].revents & (POLLRDHUP | POLLHUP | POLLERR))) break;
          if (n > 0 && stop_fd_ >= 0 && (p[1].revents & POLLIN)) break;
        }
        write_closed_ = true;
        break;
      }
      case Fault::Flood:
      case Fault::IacFlood:
      case Fault::Chatter:
      case Fault::Garbage:
      case Fault::EndlessSub:
      case Fault::Drip:
      case Fault::Escapes:
        fault_outcome_ = "fault: hostile" + after;
        note("= fault: hostile");
        hostile();
        close_orderly();
        break;
      case Fault::None: break;
    }
    peer_gone_ = true;
    ended_ = true;
    return Wake::Stopped;
  }

  // Writes the received lines to the transcript; a line ended by CR waits for
  // its LF unless all is set (an LF that comes later still joins the line in
  // the result, not in the transcript).
  void flush_received(bool all) {
    size_t end = result_.received.size();
    if (cr_open_ && !all && end > 0) --end;
    for (; written_ < end; ++written_) note("< " + escape(result_.received[written_]));
  }

  enum class In { Data, Iac, Option, Sub, SubIac };

  int in_fd_;
  int out_fd_;
  bool telnet_;
  const Scenario& sc_;
  const SimOptions& opts_;
  int stop_fd_;
  int number_;
  Firmware& firmware_;
  std::string last_image_line_;  // the last line typed in the clear that named an image file
  bool echo_password_ = false;
  SessionResult result_;

  In in_ = In::Data;
  unsigned char verb_ = 0;
  std::string sub_;

  std::string partial_;           // typed text of the line not yet ended
  int echo_column_ = 0;           // columns the echo of the current line has filled
  Clock::time_point last_byte_;   // when the last byte of partial_ came
  bool cr_open_ = false;          // the last line ended at CR; an LF or NUL may follow
  std::deque<std::string> queue_; // ended lines (without line ends) not yet taken by a step
  size_t written_ = 0;            // received lines already in the transcript

  std::vector<const Step*> rules_;
  bool hide_ = false;
  bool silent_ = false;
  bool peer_gone_ = false;
  bool input_gone_ = false;  // the client typed its last (end of file or error)
  bool write_closed_ = false;
  bool ended_ = false;  // closed or silenced for good: no linger
  bool fault_due_ = false;      // the fault's line has been typed: commit it at the next read
  std::string fault_outcome_;
};

}  // namespace

// --- results ---------------------------------------------------------------

std::string_view line_text(std::string_view item) {
  while (!item.empty() && (item.back() == '\r' || item.back() == '\n' || item.back() == '\0')) {
    item.remove_suffix(1);
  }
  return item;
}

bool SessionResult::typed(std::string_view text) const {
  for (const auto& item : received) {
    if (line_text(item) == text) return true;
  }
  return false;
}

std::vector<std::string> SessionResult::lines() const {
  std::vector<std::string> out;
  for (const auto& item : received) out.emplace_back(line_text(item));
  return out;
}

std::string scenario_path(std::string_view relative) {
  return std::string(SWITCHSIM_SCENARIO_DIR) + "/" + std::string(relative);
}

// --- stop signal -----------------------------------------------------------

StopSignal::StopSignal() {
  if (::pipe(fds_) == 0) {
    ::fcntl(fds_[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds_[1], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds_[1], F_SETFL, O_NONBLOCK);
  }
}

StopSignal::~StopSignal() {
  for (int fd : fds_) {
    if (fd >= 0) ::close(fd);
  }
}

void StopSignal::raise() {
  char one = 1;
  if (fds_[1] >= 0) {
    [[maybe_unused]] ssize_t n = ::write(fds_[1], &one, 1);
  }
}

// --- listener --------------------------------------------------------------

Listener::~Listener() { close(); }

void Listener::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool Listener::open(const std::string& address, uint16_t port, std::string& error) {
  close();
  sockaddr_storage sa{};
  socklen_t len = 0;
  auto* in4 = reinterpret_cast<sockaddr_in*>(&sa);
  auto* in6 = reinterpret_cast<sockaddr_in6*>(&sa);
  if (inet_pton(AF_INET, address.c_str(), &in4->sin_addr) == 1) {
    in4->sin_family = AF_INET;
    in4->sin_port = htons(port);
    len = sizeof *in4;
  } else if (inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr) == 1) {
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    len = sizeof *in6;
  } else {
    error = "'" + address + "' is not an IPv4 or IPv6 address";
    return false;
  }
  fd_ = ::socket(sa.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  int on = 1;
  ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  address_ = address;
  port_ = port;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), len) != 0 || ::listen(fd_, 8) != 0) {
    error = "cannot listen on " + name() + ": " + std::strerror(errno);
    close();
    return false;
  }
  len = sizeof sa;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
  port_ = ntohs(sa.ss_family == AF_INET ? in4->sin_port : in6->sin6_port);
  return true;
}

bool Listener::reopen(std::string& error) {
  const std::string address = address_;
  return open(address, port_, error);
}

std::string Listener::name() const {
  bool v6 = address_.find(':') != std::string::npos;
  return (v6 ? "[" + address_ + "]" : address_) + ":" + std::to_string(port_);
}

// --- serving ---------------------------------------------------------------

SessionResult play_session(int fd, const Scenario& sc, const SimOptions& opts, int stop_fd,
                           int session) {
  Firmware firmware(sc);
  return play_session(fd, sc, opts, stop_fd, session, firmware);
}

SessionResult play_session(int fd, const Scenario& sc, const SimOptions& opts, int stop_fd, int session,
                           Firmware& firmware) {
  int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int on = 1;
  // Prompts go out at once, not held back to be joined with later text.
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  SessionResult result = Session(Endpoint{fd, fd, true, peer_name(fd)}, sc, opts, stop_fd, session, firmware).run();
  ::close(fd);
  return result;
}

SessionResult play_stdio(int in_fd, int out_fd, const Scenario& sc, const SimOptions& opts, int stop_fd,
                         const std::string& peer) {
  // A terminal (the PTY of an SSH session) is put into raw mode for the
  // session: no echo, no line editing, no CR/LF translation of its own, so
  // that the client sees exactly what the scenario prints and echoes.
  termios saved{};
  const bool terminal = ::isatty(in_fd) && ::tcgetattr(in_fd, &saved) == 0;
  if (terminal) {
    termios raw = saved;
    ::cfmakeraw(&raw);
    ::tcsetattr(in_fd, TCSANOW, &raw);
  }
  const int in_flags = ::fcntl(in_fd, F_GETFL);
  const int out_flags = ::fcntl(out_fd, F_GETFL);
  ::fcntl(in_fd, F_SETFL, in_flags | O_NONBLOCK);
  ::fcntl(out_fd, F_SETFL, out_flags | O_NONBLOCK);
  Firmware firmware(sc);
  SessionResult result = Session(Endpoint{in_fd, out_fd, false, peer}, sc, opts, stop_fd, 1, firmware).run();
  ::fcntl(in_fd, F_SETFL, in_flags);
  if (terminal) ::tcsetattr(in_fd, TCSANOW, &saved);
  return result;
}

namespace {

// A switch that rebooted in its last session is gone for the scenario's
// reboot-down-ms: its console port refuses connections, then answers again.
// False when the wait was stopped or the port could not be taken back.
bool restart_console(Listener& listener, const Scenario& sc, const SimOptions& opts, int stop_fd) {
  const int down_ms = sc.options.reboot_down_ms;
  if (down_ms <= 0) return true;
  if (opts.transcript) opts.transcript("= console down for " + std::to_string(down_ms) + " ms (reboot)");
  listener.close();
  pollfd p{stop_fd, POLLIN, 0};
  const int stopped = ::poll(&p, stop_fd >= 0 ? 1 : 0, down_ms);
  if (stopped > 0) return false;
  std::string error;
  if (!listener.reopen(error)) {
    if (opts.transcript) opts.transcript("= console not back: " + error);
    return false;
  }
  if (opts.transcript) opts.transcript("= console back");
  return true;
}

}  // namespace

void serve(Listener& listener, const Scenario& sc, const SimOptions& opts, int stop_fd,
           const std::function<void(const SessionResult&)>& on_session) {
  // One switch: every session it serves sees the same firmware.
  Firmware firmware(sc);
  for (int n = 1; opts.sessions == 0 || n <= opts.sessions; ++n) {
    pollfd p[2] = {{listener.fd(), POLLIN, 0}, {stop_fd, POLLIN, 0}};
    int ready = ::poll(p, stop_fd >= 0 ? 2 : 1, opts.accept_timeout_ms);
    if (ready < 0 && errno == EINTR) {
      --n;
      continue;
    }
    if (ready <= 0 || (stop_fd >= 0 && (p[1].revents & POLLIN))) {
      if (ready == 0 && opts.transcript) {
        opts.transcript("= no client within " + std::to_string(opts.accept_timeout_ms) + " ms");
      }
      return;
    }
    int fd = ::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0 && (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN)) {
      --n;
      continue;
    }
    if (fd < 0) {
      // Out of descriptors, say: the waiting client stays readable, so trying
      // again would only spin. The console ends, and says why.
      SessionResult failed;
      failed.outcome = std::string("cannot accept a session: ") + std::strerror(errno);
      failed.stopped_at = listener.name();
      if (opts.transcript) opts.transcript("= " + failed.outcome);
      if (on_session) on_session(failed);
      return;
    }
    SessionResult result = play_session(fd, sc, opts, stop_fd, n, firmware);
    if (on_session) on_session(result);
    const bool more = opts.sessions == 0 || n < opts.sessions;
    if (firmware.take_reboot() && more && !restart_console(listener, sc, opts, stop_fd)) return;
  }
}

// --- simulated switch on a thread -----------------------------------------

SimulatedSwitch::~SimulatedSwitch() { stop(); }

bool SimulatedSwitch::start(const std::string& address, uint16_t port, Scenario sc,
                            SimOptions opts, std::string* error) {
  std::string why;
  if (thread_.joinable()) {
    why = "already started";
  } else if (listener_.open(address, port, why)) {
    scenario_ = std::move(sc);
    options_ = std::move(opts);
    thread_ = std::thread([this] {
      serve(listener_, scenario_, options_, stop_.fd(), [this](const SessionResult& r) {
        std::lock_guard<std::mutex> lock(mutex_);
        results_.push_back(r);
      });
      listener_.close();
    });
    return true;
  }
  if (error) *error = why;
  return false;
}

bool SimulatedSwitch::start_file(const std::string& address, uint16_t port,
                                 const std::string& scenario_file, SimOptions opts,
                                 std::string* error) {
  Scenario sc;
  std::string why;
  if (!load_scenario(scenario_file, sc, why)) {
    if (error) *error = why;
    return false;
  }
  return start(address, port, std::move(sc), std::move(opts), error);
}

std::vector<SessionResult> SimulatedSwitch::wait_all() {
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  return results_;
}

SessionResult SimulatedSwitch::wait() {
  std::vector<SessionResult> all = wait_all();
  if (all.empty()) {
    SessionResult none;
    none.outcome = "no client connected";
    return none;
  }
  return all.back();
}

void SimulatedSwitch::stop() {
  stop_.raise();
  if (thread_.joinable()) thread_.join();
}

}  // namespace switchsim
