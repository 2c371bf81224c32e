// The pattern engine: a small backtracking regular-expression matcher for
// switch console output. The public entry the library calls is sregex_match;
// the tokenizer and step functions are declared here too so tests reach them.
#pragma once

#include <cstddef>

// Mode bits.
inline constexpr unsigned SREGEX_ICASE = 1;      // fold case
inline constexpr unsigned SREGEX_MULTILINE = 2;  // "^" after LF, "$" before LF

// Result codes.
enum SregexResult : int {
  SREGEX_MATCH = 1,
  SREGEX_NOMATCH = 0,
  SREGEX_ERR_SYNTAX = -1,
  SREGEX_ERR_BRACKETS = -2,
  SREGEX_ERR_PARENS = -3,
  SREGEX_ERR_NESTED = -4,
  SREGEX_ERR_BACKSLASH = -5,
  SREGEX_ERR_REPEAT = -6,
  SREGEX_ERR_RANGE = -7,
  SREGEX_ERR_PATTERN = -8,
  SREGEX_ERR_SIZE = -9,
  SREGEX_ERR_NOPATTERN = -10,
  SREGEX_ERR_NOTEXT = -11,
  SREGEX_ERR_MODE = -12,
};

// Searches text for the leftmost match of pattern. On a match with a non-null
// out of non-zero size, out receives the matched text cut to outSize - 1 and
// terminated. Returns SREGEX_MATCH, SREGEX_NOMATCH or a negative code.
int sregex_match(const char* pattern, const char* text, unsigned mode, char* out, std::size_t outSize);

// Message of a result code; unlisted codes are formatted into a per-thread buffer.
const char* sregex_error_text(int code);
