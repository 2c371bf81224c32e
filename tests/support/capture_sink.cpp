#include "support/capture_sink.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace testsupport {
namespace {

std::mutex gMutex;
std::vector<std::string> gEntries;

}  // namespace

void capture_sink(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  std::string entry(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(entry.data(), entry.size() + 1, format, again);
  va_end(again);
  std::lock_guard<std::mutex> lock(gMutex);
  gEntries.push_back(std::move(entry));
}

void capture_clear() {
  std::lock_guard<std::mutex> lock(gMutex);
  gEntries.clear();
}

std::vector<std::string> capture_entries() {
  std::lock_guard<std::mutex> lock(gMutex);
  return gEntries;
}

std::string capture_text() {
  std::string all;
  for (const auto& e : capture_entries()) all += e;
  return all;
}

int capture_count(const std::string& needle) {
  int count = 0;
  for (const auto& e : capture_entries()) {
    if (e.find(needle) != std::string::npos) ++count;
  }
  return count;
}

}  // namespace testsupport
