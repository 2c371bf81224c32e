// Internal operations of the TELNET client: the receive results, the wait,
// receive and line-assembly steps, the negotiation steps and the name tables.
// Only the telnet layer and its tests include this header.
#pragma once

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

// Gap between the characters of one line when a caller gives 0: 250 ms.
inline constexpr long long TELNET_DEFAULT_CHAR_USECS = 250000;
// Size of the command buffer that collects one server command (IAC included).
inline constexpr std::size_t TELNET_CMD_BUFSIZE = 100;

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

// Sends len bytes in one send call: 0 when all were accepted, -1 otherwise.
int sendToServer(int sock, const unsigned char* buf, int len);
// The client opens no negotiation of its own: sends nothing, returns 0.
int sendInitialOptions(int sock);
// Reads the rest of a server command after its IAC and answers it.
bool readServerCommand(int sock);
// Answers one complete command (IAC, command, option or subnegotiation bytes).
bool handleServerCommand(int sock, const unsigned char* cmd, std::size_t len);
// Negotiation trace of an outgoing buffer (level 2 and above).
void traceSend(int sock, const unsigned char* buf, int len);
// Name of a TELNET command byte; unknown bytes in a per-thread buffer.
const char* telcmdName(unsigned char c);
// Name of a TELNET option byte; unknown bytes in a per-thread buffer.
const char* teloptName(unsigned char c);

// Waits up to usecs microseconds for sock to become readable.
int selectpoll(int sock, long long usecs);
// Receives up to len bytes (taking TELNET commands out) after waiting up to
// usecs of silence: the count stored, or a negative RecvResult.
int recvtimeout(int sock, char* buf, int len, long long usecs);
// Assembles one line: ended by LF, NUL, a full buffer or charUsecs of
// silence; firstUsecs bounds the wait for its first byte. Length or a
// negative TelnetStatus.
int rdline(int sock, long long charUsecs, long long firstUsecs, char* buf, int size);

// Escapes len bytes (NULs included) for a log line the way printable does.
const char* escapeBytes(const unsigned char* src, std::size_t len, char* out, int size);

// Copies text into the caller's out (at most outSize - 1 characters).
void copyToCaller(TelnetHandle h, const char* text, char* out, int outSize);
// Appends line to the running text of capacity cap (cap - 1 characters kept,
// the most recent ones).
void appendTail(char* running, const char* line, std::size_t cap);
