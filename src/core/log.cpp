#include "core/log.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "com/escape.h"

namespace {

// io_log formats each entry into this many bytes (at most 1999 characters).
constexpr std::size_t IO_LOG_BUFSIZE = 2000;
// The file writer's timestamp, "%Y.%m.%d %H:%M:%S " and its terminator.
constexpr std::size_t TIMESTAMP_BUFSIZE = 25;
// ctime_r needs 26 bytes: 24 characters, the newline and the terminator.
constexpr std::size_t CTIME_BUFSIZE = 26;

// The core's sink; replaced at any time by the set-up calls of the Java host
// while updates log on other threads, hence an atomic.
std::atomic<LogSink> gSink{&io_stderr_sink};

// The log file, or null when none is set; standard error itself when taken
// as the log file. Every use, opening, writing and closing, holds the mutex,
// so each entry reaches the file whole and never after the file closed.
std::mutex gFileMutex;
std::FILE* gLogFile = nullptr;

// The banner line: prefix followed by the ctime text of now (newline included).
std::string banner(const char* prefix) {
  char when[CTIME_BUFSIZE] = "";
  const std::time_t now = std::time(nullptr);
  if (ctime_r(&now, when) == nullptr) std::snprintf(when, sizeof when, "?\n");
  return std::string(prefix) + when;
}

// Writes text to f as one write and flushes it. Caller holds gFileMutex.
void writeFlushed(std::FILE* f, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), f);
  std::fflush(f);
}

// Opening step of modburnlog_open; caller holds gFileMutex.
void openLocked(const char* name) {
  if (gLogFile != nullptr) return;
  std::FILE* f = stderr;
  if (name != nullptr && *name != '\0') {
    f = std::fopen(name, "a+");
    if (f == nullptr) {
      std::fprintf(stderr, "modburnlog_open: fopen(%s) error, errno=%d\n", name, errno);
      f = stderr;
    }
  }
  gLogFile = f;
  writeFlushed(f, banner("===== Switch/MODBURN Log opened "));
}

// Closing step of modburnlog_close; caller holds gFileMutex. Standard error
// is never closed, but it is cleared like a file, so that a later open can
// reach a real file instead of staying on standard error for good.
void closeLocked() {
  if (gLogFile == nullptr) return;
  writeFlushed(gLogFile, banner("~~~~~ Switch/MODBURN Log closed "));
  if (gLogFile != stderr) std::fclose(gLogFile);
  gLogFile = nullptr;
}

// The line of modburnlog when no file is set; the entry itself is dropped.
void reportNoFile(const char* format) {
  std::printf("PROBLEM: modburnlog called prior to modburn_open (%s)\n", format);
  std::fflush(stdout);
}

}  // namespace

int io_vformat(char* buf, std::size_t size, const char* format, va_list ap) {
  if (buf == nullptr || size == 0) return 0;
  buf[0] = '\0';
  if (format == nullptr) return 0;
  modburn::format_entry(buf, size, format, ap);
  return static_cast<int>(std::strlen(buf));
}

void io_stderr_sink(const char* format, ...) {
  if (format == nullptr) return;
  va_list ap;
  va_start(ap, format);
  const std::string entry = modburn::format_entry_whole(format, ap);
  va_end(ap);
  std::fputs(entry.c_str(), stderr);
}

void io_log(const char* format, ...) {
  const LogSink sink = gSink.load();
  if (sink == nullptr || format == nullptr) return;
  char entry[IO_LOG_BUFSIZE];
  va_list ap;
  va_start(ap, format);
  io_vformat(entry, sizeof entry, format, ap);
  va_end(ap);
  if (sink == &io_stderr_sink) {
    std::fputs(entry, stderr);
  } else {
    sink("%s", entry);
  }
}

LogSink io_setLogSink(LogSink sink) { return gSink.exchange(sink); }

LogSink io_getLogSink() { return gSink.load(); }

int modburnlog_open(const char* name) {
  std::lock_guard<std::mutex> lock(gFileMutex);
  openLocked(name);
  return 0;
}

void modburnlog_close() {
  std::lock_guard<std::mutex> lock(gFileMutex);
  closeLocked();
}

int modburnlog_reopen(const char* name) {
  std::lock_guard<std::mutex> lock(gFileMutex);
  closeLocked();
  openLocked(name);
  return 0;
}

void modburnlog(const char* format, ...) {
  if (format == nullptr) return;
  // Timestamp and entry are formatted first and go out as one write.
  char stamp[TIMESTAMP_BUFSIZE] = "";
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) != nullptr) {
    std::strftime(stamp, sizeof stamp, "%Y.%m.%d %H:%M:%S ", &local);
  }
  va_list ap;
  va_start(ap, format);
  const std::string line = stamp + modburn::format_entry_whole(format, ap);
  va_end(ap);

  std::unique_lock<std::mutex> lock(gFileMutex);
  if (gLogFile == nullptr) {
    lock.unlock();
    reportNoFile(format);
    return;
  }
  writeFlushed(gLogFile, line);
}
