// Internal operations of the TELNET client: the receive results, the wait,
// receive and line-assembly steps, the negotiation steps and the name tables.
// Only the telnet layer and its tests include this header.
#pragma once

#include <chrono>
#include <cstddef>

#include "telnet/telnet.h"

struct addrinfo;

// Results of selectpoll and recvtimeout.
enum RecvResult : int {
  RTO_READY = 1,         // input is waiting (selectpoll only)
  RTO_ERROR = -1,        // a wait or receive error
  RTO_TIMEOUT = -2,      // nothing arrived within the time-out
  RTO_SHUTDOWN = -3,     // the peer closed before any byte was stored
  RTO_BADSOCKET = -4,    // negative handle, not a descriptor, or not a socket
  RTO_INTERRUPTED = -5,  // the wait was interrupted by a signal (selectpoll only)
};

// The clock of every time limit of the layer.
using TelnetClock = std::chrono::steady_clock;

// Gap between the characters of one line when a caller gives 0: 250 ms.
inline constexpr long long TELNET_DEFAULT_CHAR_USECS = 250000;
// Size of the command buffer that collects one server command (IAC included).
inline constexpr std::size_t TELNET_CMD_BUFSIZE = 100;
// How long a close waits for the peer to finish after our end of input (a
// TELNET half-close, an SSH channel's end of file).
inline constexpr std::chrono::milliseconds CLOSE_DRAIN_LIMIT{1000};

// TELNET command bytes.
inline constexpr unsigned char TC_IAC = 255;
inline constexpr unsigned char TC_DONT = 254;
inline constexpr unsigned char TC_DO = 253;
inline constexpr unsigned char TC_WONT = 252;
inline constexpr unsigned char TC_WILL = 251;
inline constexpr unsigned char TC_SB = 250;
inline constexpr unsigned char TC_GA = 249;
inline constexpr unsigned char TC_NOP = 241;
inline constexpr unsigned char TC_SE = 240;
inline constexpr unsigned char TO_ECHO = 1;

// The built-in sink that writes entries to standard error; initial sink.
void telnet_stderr_sink(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Current sink of the layer (null when silenced).
LogSink telnet_getLogSink();

// Names the flag bits 1, 2 and 4 of a resolver entry into out (at most 200
// bytes with the terminator); returns out.
const char* aiFlagsText(int flags, char* out, std::size_t outSize);
// Debug dump of one resolver entry (level 2 and above).
void logaddrinfo(const char* host, const addrinfo* ai);
// The walk of net_connect over a resolver list (each entry's own address and
// port): the first socket connected, or a negative TelnetStatus.
int connectFirst(const char* who, const char* host, const addrinfo* list, int timeoutSecs);

// Sends len bytes in one send call: 0 when all were accepted, -1 otherwise.
int sendToServer(int sock, const unsigned char* buf, int len);
// The client opens no negotiation of its own: sends nothing, returns 0.
int sendInitialOptions(int sock);
// How reading one server command ended.
enum class CommandRead {
  Done,        // consumed (and answered where the policy answers)
  SendFailed,  // the answer could not be sent: the session is unusable
  Endless,     // a subnegotiation still had no end at giveUp
};
// Reads the rest of a server command after its IAC and answers it; a
// subnegotiation is read until its SE, but not beyond giveUp.
CommandRead readServerCommand(int sock, TelnetClock::time_point giveUp);
// Answers one complete command (IAC, command, option or subnegotiation bytes).
bool handleServerCommand(int sock, const unsigned char* cmd, std::size_t len);
// Negotiation trace of an outgoing buffer (level 2 and above).
void traceSend(int sock, const unsigned char* buf, int len);
// Name of a TELNET command byte; unknown bytes in a per-thread buffer.
const char* telcmdName(unsigned char c);
// Name of a TELNET option byte; unknown bytes in a per-thread buffer.
const char* teloptName(unsigned char c);

// The overall limit of one wait, measured from its construction. Its length
// passes through the time seam each time the deadline is read, so that a
// test may shorten a wait that has already begun. A default WaitLimit has none.
class WaitLimit {
 public:
  WaitLimit() = default;
  explicit WaitLimit(long long micros) : start_(TelnetClock::now()), micros_(micros) {}
  // A limit at a time already reckoned (the time seam applied).
  static WaitLimit until(TelnetClock::time_point deadline) {
    WaitLimit w;
    w.start_ = deadline;
    w.micros_ = 0;
    return w;
  }
  // When the wait must end; time_point::max() without a limit.
  TelnetClock::time_point deadline() const;
  bool expired() const { return micros_ >= 0 && TelnetClock::now() >= deadline(); }

 private:
  TelnetClock::time_point start_{};
  long long micros_ = -1;
};

// Waits up to usecs microseconds for sock to become readable.
int selectpoll(int sock, long long usecs);
// Receives up to len bytes (taking TELNET commands out) after waiting up to
// usecs of silence: the count stored, or a negative RecvResult. Nothing is
// taken at or after deadline: RTO_TIMEOUT then, even with bytes waiting.
int recvtimeout(int sock, char* buf, int len, long long usecs,
                TelnetClock::time_point deadline = TelnetClock::time_point::max());
// Assembles one line: ended by LF, NUL, a full buffer, charUsecs of silence
// or the end of limit; firstUsecs (and limit) bound the wait for its first
// byte. Length or a negative TelnetStatus.
int rdline(int sock, long long charUsecs, long long firstUsecs, char* buf, int size, const WaitLimit& limit = {});
// telnet_readline within an overall limit: what it does and logs, but the
// line also ends, and the first byte is awaited no longer than, the limit.
int readLineWithin(TelnetHandle h, char* buf, int size, int charMillis, int timeoutSecs, const WaitLimit& limit);

// Escapes len bytes (NULs included) for a log line the way printable does,
// without masking.
const char* escapeBytes(const unsigned char* src, std::size_t len, char* out, int size);

// Copies text into the caller's out (at most outSize - 1 characters).
void copyToCaller(TelnetHandle h, const char* text, char* out, int outSize);
// Appends line to the running text of capacity cap (cap - 1 characters kept,
// the most recent ones).
void appendTail(char* running, const char* line, std::size_t cap);
