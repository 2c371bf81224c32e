// The reference matcher: a literal, unoptimised reading of the algorithm.
// Only the result codes and token type numbers come from the engine's header.
// Choices the algorithm leaves open are taken as the engine takes them: a
// bare \d \D \s \S \w \W is a class token; a remainder longer than its
// buffer is SREGEX_ERR_SIZE; a repetition token without its repetition
// character (cut to size) is SREGEX_ERR_SIZE; a group token not opening with
// "(" is SREGEX_ERR_PARENS; a compound pattern reports count 1, last 0.
#include "sregex_reference.h"

#include "com/sregex.h"

#include <cctype>
#include <cstring>

namespace sregex_reference {
namespace {

constexpr std::size_t kBuf = 256;
constexpr std::size_t kSubject = 2000;

bool repeat_char(int c) { return c == '*' || c == '?' || c == '+'; }

int repeat_type(int c) {
  if (c == '?') return ZERO_ONE;
  if (c == '*') return ZERO_MORE;
  if (c == '+') return ONE_MORE;
  return NONE;
}

bool class_escape(int c) {
  return c == 'A' || c == 'D' || c == 'S' || c == 'W' || c == 'Z' || c == 'd' || c == 's' || c == 'w';
}

bool set_escape(int c) { return c == 'd' || c == 'D' || c == 's' || c == 'S' || c == 'w' || c == 'W'; }

thread_local long stepBudget = -1;
thread_local bool spent = false;

struct Ctx {
  const char* text;
  long len;
};

bool can_backtrack(int type, long count, long offset) {
  if (offset < 0) return false;
  if (type == ZERO_ONE || type == ZERO_MORE) return count >= 1;
  if (type == ONE_MORE) return count >= 2;
  return false;
}

int here(const Ctx& cx, const char* pattern, long pos, unsigned mode, bool lineStart, Info& info);

int literal(const Ctx& cx, const char* token, long pos, unsigned mode, Info& info) {
  char ntok[kBuf];
  normalize_literal(token, ntok, kBuf, mode);
  const char* subject = cx.text + pos;
  char nsub[kSubject];
  const char* compare = subject;
  if (mode != 0) {
    normalize_literal(subject, nsub, kSubject, mode);
    compare = nsub;
  }
  const std::size_t k = std::strlen(ntok);
  for (std::size_t i = 0; i < k; i++) {
    if (compare[i] == '\0') return 0;
    int a = static_cast<unsigned char>(compare[i]);
    int b = static_cast<unsigned char>(ntok[i]);
    if (mode & SREGEX_ICASE) {
      a = std::tolower(a);
      b = std::tolower(b);
    }
    if (a != b) return 0;
  }
  long raw = static_cast<long>(k);
  if (mode != 0) {
    const char* s = subject;
    for (std::size_t i = 0; i < k; i++) {
      if (s[0] == '\\') {
        s += 2;
      } else if (s[0] == '\r' && s[1] == '\n') {
        s += 2;
      } else if (s[0] == '\n') {
        s += 1;
        if (s[0] == '\r') s += 1;
      } else {
        s += 1;
      }
    }
    raw = s - subject;
  }
  info = {0, 0, 1, raw};
  return 1;
}

int klass(const Ctx& cx, const char* token, long pos, unsigned mode, Info& info) {
  unsigned char table[128];
  const int rc = build_class(token, table, mode);
  if (rc < 0) return rc;
  const unsigned char c = static_cast<unsigned char>(cx.text[pos]);
  if (!table[c & 127]) return 0;
  info = {0, 0, 1, 1};
  return 1;
}

int repetition(const Ctx& cx, const char* token, long pos, unsigned mode, Info& info) {
  const std::size_t n = std::strlen(token);
  if (n == 0 || !repeat_char(token[n - 1])) return SREGEX_ERR_SIZE;
  const char op = token[n - 1];
  char element[kBuf];
  std::memcpy(element, token, n - 1);
  element[n - 1] = '\0';
  const long available = cx.len - pos;
  long offset = 0;
  long count = 0;
  long lastLength = 0;
  if (available >= 1) {
    for (;;) {
      Info one;
      const int r = here(cx, element, pos + offset, mode, false, one);
      if (r < 0) return r;
      if (r == 0) break;
      count++;
      offset += one.length;
      lastLength = one.length;
      if (op == '?') break;
      if (offset >= available) break;
      if (one.length == 0) break;
    }
  }
  if (count >= 1) {
    info = {0, offset - lastLength, count, offset};
    return 1;
  }
  if (op == '+') return 0;
  info = {0, 0, 0, 0};
  return 1;
}

int group(const Ctx& cx, const char* token, long pos, unsigned mode, Info& info) {
  if (token[0] != '(') return SREGEX_ERR_PARENS;
  const char* close = std::strrchr(token, ')');
  if (close == nullptr || close[1] != '\0') return SREGEX_ERR_PARENS;
  char inner[kBuf];
  const std::size_t n = static_cast<std::size_t>(close - token - 1);
  if (n == 0) return SREGEX_ERR_PATTERN;
  std::memcpy(inner, token + 1, n);
  inner[n] = '\0';
  return here(cx, inner, pos, mode, false, info);
}

int here(const Ctx& cx, const char* pattern, long pos, unsigned mode, bool lineStart, Info& info) {
  if (spent) return SREGEX_ERR_SYNTAX;
  if (stepBudget >= 0) {
    if (stepBudget == 0) {
      spent = true;
      return SREGEX_ERR_SYNTAX;
    }
    --stepBudget;
  }
  char token[kBuf];
  char rest[kBuf];
  const int type = next_token(pattern, token, kBuf, rest, kBuf);
  if (type < 0) return type;
  if (type == 0) return 0;
  if (rest[0] == '\0') {
    if (pos > cx.len) return 0;
    switch (type) {
      case CHARSEQ: return literal(cx, token, pos, mode, info);
      case CHARCLASS: return klass(cx, token, pos, mode, info);
      case ZERO_ONE:
      case ZERO_MORE:
      case ONE_MORE: return repetition(cx, token, pos, mode, info);
      case ASTART:
        if (!lineStart) return 0;
        info = {0, 0, 1, 0};
        return 1;
      case AEND:
        if (pos == cx.len) {
          info = {0, 0, 1, 0};
          return 1;
        }
        if ((mode & SREGEX_MULTILINE) && std::strcmp(token, "$") == 0 && cx.text[pos] == '\n') {
          info = {0, 0, 1, 1};
          return 1;
        }
        return 0;
      case GROUP: return group(cx, token, pos, mode, info);
      default: return 0;
    }
  }
  Info first;
  int r = here(cx, token, pos, mode, lineStart, first);
  if (r <= 0) return r;
  Info second;
  r = here(cx, rest, pos + first.length, mode, false, second);
  if (r == 1) {
    info = {0, 0, 1, first.length + second.length};
    return 1;
  }
  if (r < 0) return r;
  const long step = first.length - first.last;
  long offset = first.last;
  long count = first.count;
  for (;;) {
    if (!can_backtrack(type, count, offset)) return 0;
    r = here(cx, rest, pos + offset, mode, false, second);
    if (r == 1) {
      info = {0, 0, 1, offset + second.length};
      return 1;
    }
    offset = offset - step;
    count = count - 1;
  }
}

}  // namespace

void set_step_budget(long steps) {
  stepBudget = steps;
  spent = false;
}

bool budget_spent() { return spent; }

int next_token(const char* pattern, char* token, std::size_t tokenSize, char* rest, std::size_t restSize) {
  if (pattern == nullptr || pattern[0] == '\0') return 0;
  char tok[260];
  std::size_t t = 0;  // characters in tok
  std::size_t i = 0;  // next pattern character
  int parens = 0, brackets = 0, nested = 0;
  int type = 0;
  int state = 0;  // 0 start, 1 run, 2 class, 3 group
  std::size_t last = 1;
  bool done = false;
  while (!done && pattern[i] != '\0') {
    if (t >= 256) return SREGEX_ERR_SIZE;
    const char c = pattern[i];
    const char next = pattern[i + 1];
    if (state == 0) {
      if (std::isalnum(static_cast<unsigned char>(c)) || std::isspace(static_cast<unsigned char>(c))) {
        type = CHARSEQ;
        tok[t++] = pattern[i++];
        state = 1;
      } else if (c == '$') {
        tok[t++] = pattern[i++];
        type = AEND;
        done = true;
      } else if (c == '(') {
        if (next == ')') return SREGEX_ERR_PATTERN;
        parens++;
        tok[t++] = pattern[i++];
        type = GROUP;
        state = 3;
      } else if (c == ')') {
        parens--;
        tok[t++] = pattern[i++];
        type = CHARSEQ;
        state = 1;
      } else if (c == '*' || c == '+' || c == '?') {
        return SREGEX_ERR_REPEAT;
      } else if (c == '.') {
        if (repeat_char(next)) {
          tok[t++] = pattern[i++];
          tok[t++] = pattern[i++];
          type = repeat_type(next);
        } else {
          tok[t++] = pattern[i++];
          type = CHARCLASS;
        }
        done = true;
      } else if (c == '[') {
        brackets++;
        tok[t++] = pattern[i++];
        type = CHARCLASS;
        state = 2;
      } else if (c == '\\') {
        if (next == '\0') return SREGEX_ERR_BACKSLASH;
        tok[t++] = pattern[i++];
        tok[t++] = pattern[i++];
        if (next == 'A') {
          type = ASTART;
          done = true;
        } else if (next == 'Z') {
          type = AEND;
          done = true;
        } else if (set_escape(next)) {
          type = CHARCLASS;
          if (repeat_char(pattern[i])) {
            type = repeat_type(pattern[i]);
            tok[t++] = pattern[i++];
          }
          done = true;
        } else {
          type = CHARSEQ;
          last = 2;
          state = 1;
        }
      } else if (c == ']') {
        brackets--;
        tok[t++] = pattern[i++];
        type = CHARSEQ;
        state = 1;
      } else if (c == '^') {
        tok[t++] = pattern[i++];
        type = ASTART;
        done = true;
      } else {
        tok[t++] = pattern[i++];
        type = CHARSEQ;
        state = 1;
      }
    } else if (state == 1) {
      if (c == '$') {
        if (next == '\0') {
          done = true;
        } else {
          tok[t++] = pattern[i++];
          last = 1;
        }
      } else if (c == '(' || c == '.' || c == '[') {
        done = true;
      } else if (c == ')') {
        parens--;
        tok[t++] = pattern[i++];
        last = 1;
      } else if (c == ']') {
        brackets--;
        tok[t++] = pattern[i++];
        last = 1;
      } else if (c == '*' || c == '+' || c == '?') {
        if (t == 1 || (t == 2 && tok[0] == '\\')) {
          tok[t++] = pattern[i++];
          type = repeat_type(c);
        } else {
          t -= last;
          i -= last;
        }
        done = true;
      } else if (c == '\\') {
        if (next == '\0') return SREGEX_ERR_BACKSLASH;
        if (class_escape(next)) {
          done = true;
        } else {
          tok[t++] = pattern[i++];
          tok[t++] = pattern[i++];
          last = 2;
        }
      } else {
        tok[t++] = pattern[i++];
        last = 1;
      }
    } else if (state == 2) {
      if (c == '\\') {
        if (next == '\0') return SREGEX_ERR_BACKSLASH;
        tok[t++] = pattern[i++];
        tok[t++] = pattern[i++];
      } else if (c == ']') {
        brackets--;
        tok[t++] = pattern[i++];
        if (repeat_char(pattern[i])) {
          type = repeat_type(pattern[i]);
          tok[t++] = pattern[i++];
          done = true;
        } else if (brackets == 0) {
          done = true;
        }
      } else if (c == '[') {
        brackets++;
        tok[t++] = pattern[i++];
      } else {
        tok[t++] = pattern[i++];
      }
    } else {
      if (c == '\\') {
        if (next == '\0') return SREGEX_ERR_BACKSLASH;
        tok[t++] = pattern[i++];
        tok[t++] = pattern[i++];
      } else if (c == ')') {
        tok[t++] = pattern[i++];
        parens--;
        if (parens == 0) {
          if (repeat_char(pattern[i])) {
            type = repeat_type(pattern[i]);
            tok[t++] = pattern[i++];
          }
          done = true;
        }
      } else if (c == '(') {
        parens++;
        nested++;
        if (next == ')') return SREGEX_ERR_PATTERN;
        tok[t++] = pattern[i++];
      } else if (c == '[') {
        brackets++;
        tok[t++] = pattern[i++];
      } else if (c == ']') {
        if (brackets > 0) brackets--;
        tok[t++] = pattern[i++];
      } else {
        tok[t++] = pattern[i++];
      }
    }
  }
  tok[t] = '\0';
  if (parens != 0) return SREGEX_ERR_PARENS;
  if (nested != 0) return SREGEX_ERR_NESTED;
  if (brackets != 0) return SREGEX_ERR_BRACKETS;
  const std::size_t restLength = std::strlen(pattern + i);
  if (rest != nullptr && restSize > 0 && restLength >= restSize) return SREGEX_ERR_SIZE;
  if (token != nullptr && tokenSize > 0) {
    std::size_t n = t < tokenSize - 1 ? t : tokenSize - 1;
    std::memcpy(token, tok, n);
    token[n] = '\0';
  }
  if (rest != nullptr && restSize > 0) std::memcpy(rest, pattern + i, restLength + 1);
  return type;
}

int build_class(const char* token, unsigned char table[128], unsigned mode) {
  if (token[0] == '.') {
    for (int c = 0; c < 128; c++) table[c] = 1;
    table[10] = 0;
    return 0;
  }
  for (int c = 0; c < 128; c++) table[c] = 0;
  bool negated = false;
  const std::size_t n = std::strlen(token);
  std::size_t i = 0;
  while (i < n) {
    const char c = token[i];
    if (c == '\\' && i + 1 < n) {
      const char e = token[i + 1];
      for (int k = 0; k < 128; k++) {
        switch (e) {
          case 'd': if (std::isdigit(k)) table[k] = 1; break;
          case 'D': if (!std::isdigit(k)) table[k] = 1; break;
          case 's': if (std::isspace(k)) table[k] = 1; break;
          case 'S': if (!std::isspace(k)) table[k] = 1; break;
          case 'w': if (std::isalnum(k) || k == '_') table[k] = 1; break;
          case 'W': if (!(std::isalnum(k) || k == '_')) table[k] = 1; break;
          default: break;
        }
      }
      if (!set_escape(e)) {
        const unsigned char u = static_cast<unsigned char>(e);
        table[u & 127] = 1;
        if (mode != 0 && std::isupper(u)) table[std::tolower(u) & 127] = 1;
      }
      i += 2;
    } else if (c == '\\') {
      break;
    } else if (c == '[') {
      i++;
      if (token[i] == '^') {
        negated = true;
        i++;
      }
    } else if (c == ']') {
      i++;
    } else if (c == '-') {
      if (i == 0 || token[i - 1] == '[' || token[i + 1] == ']') {
        table[static_cast<unsigned char>('-')] = 1;
        i++;
      } else {
        const signed char from = static_cast<signed char>(token[i - 1]);
        const signed char to = static_cast<signed char>(token[i + 1]);
        if (from > to) return SREGEX_ERR_RANGE;
        for (int k = from; k <= to; k++) {
          const unsigned char u = static_cast<unsigned char>(k);
          if (mode != 0) {
            table[std::tolower(u) & 127] = 1;
            table[std::toupper(u) & 127] = 1;
          } else {
            table[u & 127] = 1;
          }
        }
        i += 2;
      }
    } else {
      const unsigned char u = static_cast<unsigned char>(c);
      if (mode != 0) {
        table[std::tolower(u) & 127] = 1;
        table[std::toupper(u) & 127] = 1;
      } else {
        table[u & 127] = 1;
      }
      i++;
    }
  }
  if (negated) {
    for (int c = 0; c < 128; c++) table[c] = !table[c];
  }
  return 0;
}

int normalize_literal(const char* src, char* dst, std::size_t size, unsigned mode) {
  std::size_t w = 0;
  std::size_t i = 0;
  const bool icase = (mode & SREGEX_ICASE) != 0;
  while (src[i] != '\0' && w + 1 < size) {
    const char c = src[i];
    if (c == '\\') {
      if (src[i + 1] == '\0') break;
      const unsigned char e = static_cast<unsigned char>(src[i + 1]);
      dst[w++] = static_cast<char>(icase ? std::tolower(e) : e);
      i += 2;
    } else if (c == '\r' && src[i + 1] == '\n') {
      dst[w++] = '\n';
      i += 2;
    } else if (c == '\r') {
      dst[w++] = '\r';
      i += 1;
    } else if (c == '\n') {
      dst[w++] = '\n';
      i += 1;
      if (src[i] == '\r') i += 1;
    } else {
      const unsigned char u = static_cast<unsigned char>(c);
      dst[w++] = static_cast<char>(icase ? std::tolower(u) : u);
      i += 1;
    }
  }
  dst[w] = '\0';
  return static_cast<int>(w);
}

int match_here(const char* pattern, const char* text, long pos, unsigned mode, bool lineStart, Info* info) {
  if (pattern == nullptr) return SREGEX_ERR_NOPATTERN;
  if (text == nullptr) return SREGEX_ERR_NOTEXT;
  if ((mode & ~3u) != 0) return SREGEX_ERR_MODE;
  if (pos < 0) return 0;
  const Ctx cx{text, static_cast<long>(std::strlen(text))};
  Info local;
  const int r = here(cx, pattern, pos, mode, lineStart, local);
  if (r == 1 && info != nullptr) *info = local;
  return r;
}

int sregex_match(const char* pattern, const char* text, unsigned mode, char* out, std::size_t outSize) {
  if (pattern == nullptr || pattern[0] == '\0') return SREGEX_ERR_NOPATTERN;
  if (text == nullptr || text[0] == '\0') return SREGEX_ERR_NOTEXT;
  if ((mode & ~3u) != 0) return SREGEX_ERR_MODE;
  const Ctx cx{text, static_cast<long>(std::strlen(text))};
  for (long p = 0; p < cx.len; p++) {
    const bool lineStart = p == 0 || ((mode & SREGEX_MULTILINE) && text[p - 1] == '\n');
    Info info;
    const int r = here(cx, pattern, p, mode, lineStart, info);
    if (r < 0) return r;
    if (r == 1) {
      if (out != nullptr && outSize > 0) {
        long n = info.length;
        if (n > static_cast<long>(outSize) - 1) n = static_cast<long>(outSize) - 1;
        // Copies like strncpy over the matched characters: never past the terminator.
        long k = 0;
        while (k < n && text[p + k] != '\0') {
          out[k] = text[p + k];
          k++;
        }
        out[k] = '\0';
      }
      return 1;
    }
  }
  return 0;
}

}  // namespace sregex_reference
