// The pattern engine: a small backtracking regular-expression matcher for
// switch console output. The public entry the library calls is sregex_match;
// the tokenizer and step functions are declared here too so tests reach them.
//
// Syntax: characters stand for themselves; "." is any character but LF;
// "[...]" is a class ("[^...]" its complement) with ranges and the escapes
// \d \D \s \S \w \W; "?", "*" and "+" repeat the element before them; "^" and
// \A anchor at the start, "$" and \Z at the end; "(...)" groups (no nesting,
// no alternation). A backslash makes any other character literal.
//
// The matcher's results are those of its reference algorithm: the pattern is
// split into its first token and a remainder at every step, a repetition
// takes greedily and gives back iterations as long as its last one, errors in
// the pattern surface only when the matcher reaches the faulty token, and in a
// non-zero mode the subject is compared after normalisation (escapes dropped,
// CR LF and LF CR folded to LF, lower-cased under SREGEX_ICASE). The
// implementation compiles each pattern once (per thread, cached) and avoids
// repeating work, but never changes a result.
#pragma once

#include <array>
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

// Token types, numbered as stored.
enum TokenType : int {
  NONE = 0,       // no token (empty pattern)
  CHARSEQ = 1,    // literal run, escapes kept as backslash pairs
  CHARCLASS = 2,  // "." or a bracket expression (or a bare class escape)
  ZERO_ONE = 3,   // element followed by "?"
  ZERO_MORE = 4,  // element followed by "*"
  ONE_MORE = 5,   // element followed by "+"
  ASTART = 6,     // "^" or \A
  AEND = 7,       // "$" or \Z
  GROUP = 8,      // "(" ... ")"
};

// Buffer sizes of the algorithm: token and remainder (256), normalised token
// (256); a subject is normalised into at most 1999 characters.
inline constexpr std::size_t SREGEX_TOKEN_SIZE = 256;
inline constexpr std::size_t SREGEX_SUBJECT_SIZE = 2000;

// One flag per 7-bit code; a byte belongs to the class when the flag at its
// low seven bits is non-zero.
using ClassTable = std::array<unsigned char, 128>;

// Results of one matching step, counted in characters from where it began.
struct MatchInfo {
  long start = 0;  // always 0: a step matches only at its position
  long last = 0;   // repetition: where its last iteration began
  long count = 0;  // repetition: iterations; 1 for a run, class or anchor
  long length = 0; // characters consumed
};

// Searches text for the leftmost match of pattern. On a match with a non-null
// out of non-zero size, out receives the matched text cut to outSize - 1 and
// terminated. Returns SREGEX_MATCH, SREGEX_NOMATCH or a negative code.
int sregex_match(const char* pattern, const char* text, unsigned mode, char* out, std::size_t outSize);

// Message of a result code; unlisted codes are formatted into a per-thread buffer.
const char* sregex_error_text(int code);

// Splits the first token off pattern: its text goes to token (cut to
// tokenSize - 1), the rest of the pattern to rest. Returns the TokenType, 0
// for an empty pattern, or a negative code (then neither buffer is written).
// A rest that does not fit restSize gives SREGEX_ERR_SIZE.
int next_token(const char* pattern, char* token, std::size_t tokenSize, char* rest, std::size_t restSize);

// Fills table from a class token ("." or "[...]" or a class escape); classes
// fold case whenever mode is non-zero. Returns 0 or SREGEX_ERR_RANGE.
int build_class(const char* token, ClassTable& table, unsigned mode);

// Copies src to dst (at most size - 1 characters, terminated) dropping escape
// backslashes, folding CR LF and LF CR to LF, lower-casing under
// SREGEX_ICASE. Returns the number of characters written.
int normalize_literal(const char* src, char* dst, std::size_t size, unsigned mode);

// Character predicates of the syntax.
bool isSpecial(int c);        // $ ( ) * + - . ? [ \ ] ^
bool isRepetition(int c);     // * ? +
bool isClassEscape(int c);    // A D S W Z d s w
TokenType repetition_type(int c);  // ? * + -> ZERO_ONE ZERO_MORE ONE_MORE, else NONE

// Whether a repetition of the given type, having matched count iterations,
// may give back one more with the last iteration beginning at offset.
bool can_backtrack(int type, long count, long offset);

// One matching step: pattern matched exactly at text + pos (pos may be the
// terminator's position or one past it), lineStart telling whether "^" may
// match there. Returns 1 with info filled, 0, or a negative code.
int match_here(const char* pattern, const char* text, long pos, unsigned mode, bool lineStart, MatchInfo* info);

// Trace texts: a token type's name ("UNKNOWN TYPE (%d)" in a per-thread
// buffer otherwise), and text with control bytes escaped (per-thread buffer
// of 2000 bytes; "(NULL)" for null).
const char* node_type_name(int type);
const char* sregex_printable(const char* text);

// Writes text into out as a pattern that matches exactly that text: a
// backslash before every character the dialect treats as special
// ("$ ( ) * + - . ? [ \ ] ^"). Returns true, or false (out empty) when the
// escaped text does not fit in size - 1 characters or in one pattern token
// (255 characters).
bool sregex_literal(const char* text, std::size_t length, char* out, std::size_t size);

// Self-test entries kept for compatibility: each prints that it was compiled
// out and returns 1.
int testsplit();
int testmatch();
