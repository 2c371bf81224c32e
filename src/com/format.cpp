#include "com/format.h"

#include <cstdio>

namespace modburn {

bool vformat_whole(char* out, std::size_t size, const char* format, va_list ap) {
  if (out == nullptr || size == 0) return false;
  const int n = std::vsnprintf(out, size, format, ap);
  if (n >= 0 && static_cast<std::size_t>(n) < size) return true;
  out[0] = '\0';
  return false;
}

bool format_whole(char* out, std::size_t size, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  const bool ok = vformat_whole(out, size, format, ap);
  va_end(ap);
  return ok;
}

bool fits(std::size_t size, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  const int n = std::vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  return n >= 0 && static_cast<std::size_t>(n) < size;
}

char* format_cut(char* out, std::size_t size, const char* format, ...) {
  if (out == nullptr || size == 0) return out;
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(out, size, format, ap);
  va_end(ap);
  return out;
}

std::string vformat(const char* format, va_list ap) {
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(nullptr, 0, format, ap);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, again);
    out.resize(static_cast<std::size_t>(n));
  }
  va_end(again);
  return out;
}

}  // namespace modburn
