#include "com/escape.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "com/format.h"
#include "com/secrets.h"

namespace modburn {
namespace {

// Longest escape of one byte ("\xff") and longest UTF-8 sequence.
constexpr std::size_t kMaxUnit = 4;

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at text[i] that is no C1 control, or 0.
std::size_t readableSequence(std::string_view text, std::size_t i) {
  const auto b = static_cast<unsigned char>(text[i]);
  std::size_t len = 0;
  char32_t cp = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
    cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    cp = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    cp = b & 0x07;
  } else {
    return 0;
  }
  if (i + len > text.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto c = static_cast<unsigned char>(text[i + k]);
    if (!isContinuation(c)) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;  // overlong, beyond, surrogate
  if (cp <= 0x9F) return 0;                                                           // a C1 control
  return len;
}

// The unit of text at text[i]: the bytes it covers, and what stands for them
// in unit (at most kMaxUnit characters). Returns the number of bytes covered.
std::size_t nextUnit(std::string_view text, std::size_t i, LineEnds lineEnds, char* unit, std::size_t& unitLen) {
  const auto b = static_cast<unsigned char>(text[i]);
  const bool keepLineEnd = lineEnds == LineEnds::Kept &&
                           (b == '\n' || (b == '\r' && i + 1 < text.size() && text[i + 1] == '\n'));
  if ((b >= 0x20 && b < 0x7F) || keepLineEnd) {
    unit[0] = static_cast<char>(b);
    unitLen = 1;
    return 1;
  }
  if (const std::size_t len = readableSequence(text, i); len > 0) {
    std::memcpy(unit, text.data() + i, len);
    unitLen = len;
    return len;
  }
  static constexpr char kLetters[] = "abtnvfr";  // bell (7) to carriage return (13)
  if (b >= 7 && b <= 13) {
    unit[0] = '\\';
    unit[1] = kLetters[b - 7];
    unitLen = 2;
    return 1;
  }
  char esc[kMaxUnit + 1];
  unitLen = static_cast<std::size_t>(std::snprintf(esc, sizeof esc, "\\x%x", b));
  std::memcpy(unit, esc, unitLen);
  return 1;
}

// True when text holds nothing to escape (the common case of a log entry).
bool plain(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return (b >= 0x20 && b < 0x7F) || b == '\n';
  });
}

// Copies the first size - 1 characters of text into buf, never cutting a
// UTF-8 sequence, and terminates it.
void copyCut(char* buf, std::size_t size, std::string_view text) {
  const std::size_t n = utf8_cut(text, std::min(text.size(), size - 1));
  std::memcpy(buf, text.data(), n);
  buf[n] = '\0';
}

}  // namespace

std::string escape_text(std::string_view text, LineEnds lineEnds) {
  std::string out;
  out.reserve(text.size());
  char unit[kMaxUnit];
  for (std::size_t i = 0, unitLen = 0; i < text.size();) {
    i += nextUnit(text, i, lineEnds, unit, unitLen);
    out.append(unit, unitLen);
  }
  return out;
}

std::size_t escape_bounded(std::string_view text, char* out, std::size_t size, LineEnds lineEnds) {
  if (out == nullptr || size == 0) return 0;
  std::size_t n = 0;
  for (std::size_t i = 0, unitLen = 0; i < text.size() && n + kMaxUnit + 1 < size;) {
    i += nextUnit(text, i, lineEnds, out + n, unitLen);
    n += unitLen;
  }
  out[n] = '\0';
  return n;
}

std::size_t utf8_cut(std::string_view text, std::size_t n) {
  n = std::min(n, text.size());
  // Look back for the lead byte of the last sequence; a sequence that n cuts
  // is left out whole.
  for (std::size_t start = n; start > 0 && n - start < kMaxUnit;) {
    const auto b = static_cast<unsigned char>(text[--start]);
    if (isContinuation(b)) continue;
    const std::size_t want = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return start + want > n ? start : n;
  }
  return n;
}

int format_entry(char* buf, std::size_t size, const char* format, va_list ap) {
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(buf, size, format, ap);
  int result = n;
  if (n < 0) {
    buf[0] = '\0';
  } else if (static_cast<std::size_t>(n) >= size) {
    // Masked and escaped whole, then cut: a cut must not leave a piece of a
    // secret, or half of a UTF-8 sequence, behind.
    const std::string entry = format_entry_whole(format, again);
    copyCut(buf, size, entry);
    result = static_cast<int>(entry.size());
  } else {
    redact_in_place(buf);
    if (!plain(buf)) {
      const std::string entry = escape_text(buf, LineEnds::Kept);
      copyCut(buf, size, entry);
      result = static_cast<int>(entry.size());
    }
  }
  va_end(again);
  return result;
}

std::string format_entry_whole(const char* format, va_list ap) {
  std::string text = vformat(format, ap);
  redact_in_place(text.data());
  return plain(text) ? text : escape_text(text, LineEnds::Kept);
}

}  // namespace modburn
