// The log: the core's sink, the log file and its timestamped writer.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "com/logsink.h"

// The distinguished standard-error sink: io_log recognises it and writes to
// standard error itself. Initial value of the core's sink.
void io_stderr_sink(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Formats one entry (at most 1999 characters) and hands it to the core's sink
// as ("%s", entry); secrets of the calling thread are masked and control
// characters escaped first (modburn::format_entry).
void io_log(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Replaces the core's sink (null discards entries); returns the previous one.
LogSink io_setLogSink(LogSink sink);
// The core's current sink.
LogSink io_getLogSink();

// Opens the log file for appending (null or empty name: standard error) and
// writes the opening banner; does nothing while a file is open. Returns 0.
int modburnlog_open(const char* name);
// Writes the closing banner and closes the log file.
void modburnlog_close();
// Closes the log file and opens name as modburnlog_open does, in one step, so
// that entries written meanwhile by other threads never find the log without a
// file. Returns 0.
int modburnlog_reopen(const char* name);
// The log-file sink: one timestamped entry, written whole and flushed.
void modburnlog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Formats one entry into buf (size > 0), cut to size - 1 characters and
// terminated, with the calling thread's secrets masked and control
// characters escaped before the cut (modburn::format_entry). Returns the
// length of the result.
int io_vformat(char* buf, std::size_t size, const char* format, va_list ap)
    __attribute__((format(printf, 3, 0)));

// Core start-up: starts the telnet layer; 0, or -1 after logging its failure.
int io_init();
