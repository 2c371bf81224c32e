#include "jni/javatext.h"

namespace modburn {
namespace {

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the sequence that lead byte b announces; 0 when b leads none.
std::size_t sequenceLength(unsigned char b) {
  if (b >= 0xF0) return b <= 0xF4 ? 4 : 0;
  if (b >= 0xE0) return 3;
  if (b >= 0xC0) return 2;
  return 0;
}

// Decodes the sequence of length len at s; -1 when it is malformed or
// overlong (C0 80, Java's NUL, is the one overlong form accepted).
long decodeSequence(const unsigned char* s, std::size_t len) {
  for (std::size_t k = 1; k < len; ++k) {
    if (!isContinuation(s[k])) return -1;
  }
  switch (len) {
    case 2: {
      const long cp = ((s[0] & 0x1FL) << 6) | (s[1] & 0x3F);
      return (cp >= 0x80 || (s[0] == 0xC0 && s[1] == 0x80)) ? cp : -1;
    }
    case 3: {
      const long cp = ((s[0] & 0x0FL) << 12) | ((s[1] & 0x3FL) << 6) | (s[2] & 0x3F);
      return cp >= 0x800 ? cp : -1;
    }
    case 4: {
      const long cp = ((s[0] & 0x07L) << 18) | ((s[1] & 0x3FL) << 12) | ((s[2] & 0x3FL) << 6) | (s[3] & 0x3F);
      return (cp >= 0x10000 && cp <= 0x10FFFF) ? cp : -1;
    }
    default: return -1;
  }
}

}  // namespace

std::u16string java_text(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::size_t len = sequenceLength(s[i]);
    const long cp = (len != 0 && i + len <= bytes.size()) ? decodeSequence(s + i, len) : -1;
    if (cp < 0) {
      // ASCII, or a stray byte: the character of the same value.
      out.push_back(static_cast<char16_t>(s[i]));
      ++i;
    } else if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
      i += len;
    } else {
      out.push_back(static_cast<char16_t>(cp));
      i += len;
    }
  }
  return out;
}

}  // namespace modburn
