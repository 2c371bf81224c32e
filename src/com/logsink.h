// Common log-sink type shared by every layer of the library.
#pragma once

// A printf-style destination of log entries. The layers that log (the core
// and the telnet client) each hold one; the Java boundary sets both alike.
using LogSink = void (*)(const char* format, ...);
