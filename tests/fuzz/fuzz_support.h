// What the fuzz targets share: a failed check that stops the run where the
// fuzzer sees it, and the entry a log sink was handed, formatted whole.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace fuzzsupport {

inline void require(bool ok) {
  if (!ok) __builtin_trap();
}

// The entry of a printf-style sink call, formatted (up to 20000 bytes).
inline std::string formatted(const char* format, va_list ap) __attribute__((format(printf, 1, 0)));
inline std::string formatted(const char* format, va_list ap) {
  char entry[20000];
  std::vsnprintf(entry, sizeof entry, format, ap);
  return entry;
}

}  // namespace fuzzsupport
