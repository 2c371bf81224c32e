// The TELNET client: sessions over TCP, stateless option negotiation, timed
// line reading and waiting for one of several patterns.
//
// A TelnetHandle is the connected socket itself; the layer keeps no
// per-session state. Every result is a count, an index or a handle (0 or
// more) or a negative TelnetStatus.
#pragma once

#include <chrono>

#include "com/logsink.h"

using TelnetHandle = int;

enum TelnetStatus : int {
  TELNET_SUCCESS = 0,
  TELNET_BAD_HOST = -1,
  TELNET_CONN_ERR = -2,
  TELNET_CONN_LOST = -3,
  TELNET_TIMEOUT = -4,
  TELNET_BAD_HANDLE = -5,
  TELNET_NO_MATCH = -6,
  TELNET_REGEX_ERR = -7,
  TELNET_BAD_BUFFER = -8,
  TELNET_BAD_STRING = -9,
  TELNET_BAD_INIT = -10,
  TELNET_NO_IPSTACK = -11,
};

inline constexpr int TELNET_DEFAULT_PORT = 23;

// --- Sessions -------------------------------------------------------------

// Starts the platform socket layer; 0, or TELNET_BAD_INIT after logging.
int telnet_init();
// Finishes the socket layer; logs a failure, returns nothing.
void telnet_finish();
// Opens a session to host (name or numeric address) on port (0 = 23):
// a connected, non-blocking socket, or a negative TelnetStatus.
TelnetHandle telnet_open(const char* host, int port);
// Closes the session: 0, or TELNET_BAD_HANDLE when the close fails.
int telnet_close(TelnetHandle h);
// Text of a TelnetStatus; unknown codes are formatted into a per-thread buffer.
const char* telnet_strerror(int code);
// Sets the layer's debug level; returns the previous one.
int telnet_setDebugLevel(int level);
// Current debug level of the layer.
int telnet_getDebugLevel();
// Sets the layer's log sink (null silences it); returns the previous one.
LogSink telnet_setLogSink(LogSink sink);
// The layer's only way to log: one entry through its sink, secrets masked and
// control characters escaped (modburn::format_entry).
void logit(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Message text of a system error number, in a per-thread buffer.
const char* sockErrorText(int errnum);

// --- Reading and writing --------------------------------------------------

// Reads what arrives within timeoutSecs into buf: bytes read or a TelnetStatus.
int telnet_read(TelnetHandle h, char* buf, int size, int timeoutSecs, int extra);
// Reads one line (up to and including LF, or until a silence of charMillis,
// 0 = 250 ms): its length or a TelnetStatus. timeoutSecs bounds the first byte.
int telnet_readline(TelnetHandle h, char* buf, int size, int charMillis, int timeoutSecs, int extra);
// As telnet_readline with the default gap, but the line also ends (and the
// first byte is awaited no longer) at deadline: a console that drips a byte
// now and then cannot stretch the read.
int telnet_readline_within(TelnetHandle h, char* buf, int size, int timeoutSecs,
                           std::chrono::steady_clock::time_point deadline);
// Reads lines until nextMillis pass without a new one: total length or a TelnetStatus.
int telnet_readlines(TelnetHandle h, char* buf, int size, int nextMillis, int firstSecs);
// Writes text unchanged: 0 or a TelnetStatus.
int telnet_write(TelnetHandle h, const char* text);
// As telnet_write, logging under its own name.
int telnet_send(TelnetHandle h, const char* text);
// Escapes src for a log line into out (size >= 5): secrets masked, every
// control character escaped (line ends too), valid UTF-8 kept, other bytes as
// \xHH (modburn::escape_bounded); "(NULL)" for a null src.
const char* printable(const char* src, char* out, int size);

// --- Expect ---------------------------------------------------------------

// Reads lines until one matches a pattern of the null-terminated array exp;
// returns its index, or a negative TelnetStatus (TELNET_TIMEOUT when no line
// arrives for timeoutSecs, or when lines that match nothing have kept coming
// for telnet_expect_limit(timeoutSecs) seconds in all). out receives the
// matched text, or on a time-out the recent unmatched output.
int telnet_expect(TelnetHandle h, const char* const* exp, int timeoutSecs, int extra, char* out,
                  int outSize);
// Where a wait leaves the whole console line that matched (the pattern may
// take only part of it), cut to size - 1 characters; empty when nothing
// matched. A null buf asks for nothing.
struct LineOut {
  char* buf = nullptr;
  int size = 0;
  // Told every console line the wait reads, matched or not, in order (null:
  // nobody listens).
  void (*heard)(void* context, const char* line) = nullptr;
  void* context = nullptr;
};
// As telnet_expect, also handing back the matched line.
int telnet_expect(TelnetHandle h, const char* const* exp, int timeoutSecs, int extra, char* out, int outSize,
                  LineOut line);
// The longest one wait may last while the switch keeps printing lines that
// match nothing: four times its silence time-out, at least two minutes.
int telnet_expect_limit(int timeoutSecs);
