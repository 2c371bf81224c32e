// The command/response exchange that every switch dialogue is made of, and
// the error text that a failed update carries to Java.
#pragma once

#include "telnet/telnet.h"

// Largest number of patterns an expect array may hold for io_cmd_resp.
inline constexpr int IO_MAX_EXPECT = 24;

// Writes cmd (unless null) to the session, pauses 100 ms, then waits up to
// timeoutSecs for a line matching one of the null-terminated patterns of exp;
// resp (when not null) receives what matched, or the unmatched output on a
// time-out. Returns the matched index (also when it is not expIndex; only a
// warning is logged then), IO_BAD_PARAMS for a bad array or index, or the
// IoStatus of a failed write or wait. Every step is logged at any debug level.
int io_cmd_resp(TelnetHandle h, const char* cmd, const char* const* exp, int timeoutSecs,
                int timeoutMillis, char* resp, int respSize, int expIndex, int debugLevel);
// As io_cmd_resp, also handing back the whole console line that matched.
int io_cmd_resp(TelnetHandle h, const char* cmd, const char* const* exp, int timeoutSecs,
                int timeoutMillis, char* resp, int respSize, int expIndex, int debugLevel, LineOut line);

// The IoStatus that stands for a TelnetStatus (IO_UPDATE_ERR for unknown codes).
int io_mapTelnetStatus(int telnetStatus);

// Composes "Error: <switchName> switch=<ip>: <text of code>", followed by the
// switch's collected answers when switchText is not empty, into buf (cut to
// size - 1 characters, never inside a UTF-8 sequence, always terminated); a
// null buf or a size below 1 is left alone. A null ip reads "Unknown switch".
// The answers are quoted with the thread's secrets masked and every control
// character escaped but their line ends (modburn::escape_text).
void io_errorText(const char* switchName, const char* ip, int code, const char* switchText,
                  char* buf, int size);
