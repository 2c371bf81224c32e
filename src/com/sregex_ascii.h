// Internal helpers of the pattern engine: "C" locale character classes and
// the one-character step of literal normalisation, shared by the syntax and
// the matcher.
#pragma once

#include <cstddef>

#include "com/sregex.h"

namespace sregex_detail {

constexpr bool is_digit(int c) { return c >= '0' && c <= '9'; }
constexpr bool is_upper(int c) { return c >= 'A' && c <= 'Z'; }
constexpr bool is_lower(int c) { return c >= 'a' && c <= 'z'; }
constexpr bool is_alnum(int c) { return is_digit(c) || is_upper(c) || is_lower(c); }
constexpr bool is_space(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool is_word(int c) { return is_alnum(c) || c == '_'; }
constexpr bool is_print(int c) { return c >= 0x20 && c < 0x7f; }
constexpr int to_lower(int c) { return is_upper(c) ? c - 'A' + 'a' : c; }
constexpr int to_upper(int c) { return is_lower(c) ? c - 'a' + 'A' : c; }

// The letters of the set escapes \d \D \s \S \w \W.
constexpr bool is_set_escape(int c) {
  return c == 'd' || c == 'D' || c == 's' || c == 'S' || c == 'w' || c == 'W';
}

// One character of normalised text and how many source characters it covers;
// width 0 at the end of the source (or at a backslash that ends it).
struct NormalChar {
  char c = '\0';
  std::size_t width = 0;
};

inline NormalChar normal_char(const char* s, unsigned mode) {
  const bool icase = (mode & SREGEX_ICASE) != 0;
  auto fold = [icase](char c) { return icase ? static_cast<char>(to_lower(static_cast<unsigned char>(c))) : c; };
  switch (s[0]) {
    case '\0': return {};
    case '\\':
      if (s[1] == '\0') return {};
      return {fold(s[1]), 2};
    case '\r':
      if (s[1] == '\n') return {'\n', 2};
      return {'\r', 1};
    case '\n': return {'\n', static_cast<std::size_t>(s[1] == '\r' ? 2 : 1)};
    default: return {fold(s[0]), 1};
  }
}

}  // namespace sregex_detail
