// The matcher. A pattern is compiled once into a tree that mirrors how the
// step-wise algorithm splits it (first token, remainder; a repetition's
// element; a group's inner pattern), and the tree is evaluated with the
// algorithm's own rules. What makes it fast without changing any result:
//
// - compiled patterns are cached per thread, keyed by text and mode;
// - a repetition of a one-byte element (".", a class, a single character in
//   mode 0) is a run of member bytes, found once per run;
// - when a remainder fails behind a repetition, the positions the
//   algorithm would retry form an arithmetic progression ending at the same
//   place for every start inside one run, so the search for the last position
//   where the remainder matches is remembered and extended, never repeated;
// - start positions and retry positions are pre-filtered by the bytes that
//   can begin a match of the node tried there (memchr/memrchr when few).
// All of these rely on a step's result depending only on the node and the
// position (the line-start flag reaches the pattern's first token alone).
#include "com/sregex.h"

#include "com/sregex_ascii.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace sregex_detail;

namespace {

// A set of bytes; index 0 stands for the terminator (a position at the end).
using ByteSet = std::array<bool, 256>;

enum class Kind : std::uint8_t {
  Error,      // the token could not be split: the code, whatever the position
  Empty,      // empty pattern: no match
  Seq,        // first token, then the remainder
  Literal,    // a literal run, normalised
  Class,      // one byte out of a set
  Rep,        // a repetition of an element
  LineStart,  // "^" or \A
  End,        // "$" or \Z
  Group,      // "(" inner ")"
  StepError,  // a token that fails when tested (bad range, bad group text)
};

struct Node {
  Kind kind = Kind::Empty;
  int type = NONE;      // Seq: type of its first token; Rep: its own type
  int code = 0;         // Error, StepError
  int first = -1;       // Seq: first token; Rep: element; Group: inner pattern
  int rest = -1;        // Seq: remainder
  char op = 0;          // Rep: the repetition character
  bool dollar = false;  // End: written "$" (may match before LF)
  int set = -1;         // Class: members; Rep: member set of a one-byte element
  int lead = -1;        // bytes that can begin a non-zero result; -1 = any
  std::string literal{};  // Literal: the normalised token
};

struct Step {
  int code = SREGEX_NOMATCH;
  long length = 0;
  long count = 0;
  long last = 0;
};

constexpr Step kNoMatch{};
constexpr Step unit_match(long length) { return {SREGEX_MATCH, length, 1, 0}; }

bool is_repetition_type(int type) { return type == ZERO_ONE || type == ZERO_MORE || type == ONE_MORE; }

// What a retry search behind a repetition has learnt, for one Seq node.
struct RetryCache {
  std::uint64_t gen = 0;
  long end = 0;    // the highest retry position (where the last iteration began)
  long step = 0;   // distance between retry positions
  long low = 0;    // lowest position searched so far
  bool found = false;
  long foundAt = 0;
  long foundLength = 0;
};

// A run of member bytes [start, end) known for one Rep node.
struct RunCache {
  std::uint64_t gen = 0;
  long start = 0;
  long end = 0;
};

// The bytes of a set, listed when there are at most three besides the
// terminator, so that searches for them can use memchr and memrchr.
class ByteScan {
 public:
  explicit ByteScan(const ByteSet& set) : set_(&set) {
    for (int b = 1; b < 256 && count_ <= 3; ++b) {
      if (set[b]) {
        if (count_ < 3) bytes_[count_] = static_cast<unsigned char>(b);
        ++count_;
      }
    }
  }
  const ByteSet& set() const { return *set_; }
  bool listed() const { return count_ <= 3; }
  int count() const { return count_; }
  unsigned char byte(int i) const { return bytes_[i]; }

 private:
  const ByteSet* set_;
  unsigned char bytes_[3] = {};
  int count_ = 0;
};

// Searches forward through one text for the bytes of a set, remembering where
// each listed byte occurs next, so that a whole sweep reads the text once.
class NextCursor {
 public:
  NextCursor(const ByteScan& scan, const unsigned char* text, long len) : scan_(scan), text_(text), len_(len) {}

  // First q in [from, len) with a member byte, or len.
  long next(long from) {
    if (from >= len_) return len_;
    if (!scan_.listed()) {
      const ByteSet& set = scan_.set();
      while (from < len_ && !set[text_[from]]) ++from;
      return from;
    }
    long best = len_;
    for (int i = 0; i < scan_.count(); ++i) {
      if (at_[i] < from) {
        const void* hit = std::memchr(text_ + from, scan_.byte(i), static_cast<std::size_t>(len_ - from));
        at_[i] = hit != nullptr ? static_cast<const unsigned char*>(hit) - text_ : len_;
      }
      best = std::min(best, at_[i]);
    }
    return best;
  }

 private:
  const ByteScan& scan_;
  const unsigned char* text_;
  long len_;
  long at_[3] = {-1, -1, -1};
};

// The same backward, over positions down to a fixed lowest one.
class PrevCursor {
 public:
  PrevCursor(const ByteScan& scan, const unsigned char* text, long lo) : scan_(scan), text_(text), lo_(lo) {}

  // Last q in [lo, from] (from at most the terminator's position) with a
  // member byte, the terminator included, or lo - 1.
  long prev(long from) {
    const ByteSet& set = scan_.set();
    if (from < lo_) return lo_ - 1;
    if (set[text_[from]]) return from;
    if (!scan_.listed()) {
      --from;
      while (from >= lo_ && !set[text_[from]]) --from;
      return from;
    }
    // Below from there is no terminator: only the listed bytes can be there.
    long best = lo_ - 1;
    for (int i = 0; i < scan_.count(); ++i) {
      if (at_[i] >= from) {
        const void* hit = memrchr(text_ + lo_, scan_.byte(i), static_cast<std::size_t>(from - lo_));
        at_[i] = hit != nullptr ? static_cast<const unsigned char*>(hit) - text_ : lo_ - 1;
      }
      best = std::max(best, at_[i]);
    }
    return best;
  }

 private:
  const ByteScan& scan_;
  const unsigned char* text_;
  long lo_;
  long at_[3] = {LONG_MAX, LONG_MAX, LONG_MAX};
};

bool is_dot(const ByteSet& set) {
  for (int b = 1; b < 256; ++b) {
    if (set[b] != (b != '\n')) return false;
  }
  return true;
}

struct Program {
  std::vector<Node> nodes;
  std::vector<ByteSet> sets;
  std::vector<ByteScan> scans;  // one per set, made once the sets are complete
  std::vector<bool> dots;       // the set is "." (every byte but LF)
  std::vector<RetryCache> retry;
  std::vector<RunCache> runs;
  std::uint64_t gen = 0;
  unsigned mode = 0;
  int root = 0;
  bool fullLead = false;  // lead of the root is a set (else any / line start)
  bool lineStartLead = false;
  bool skipRuns = false;  // root begins with a run repetition ("*" or "+")
  // Bytes a match cannot do without, when no step can fail with an error:
  // each entry is a byte and its other case (or the same byte twice).
  std::vector<std::array<unsigned char, 2>> required;
};

// ---------------------------------------------------------------- compiling

class Compiler {
 public:
  Compiler(Program& prog, unsigned mode) : prog_(prog), mode_(mode) {}

  // Compiles a pattern text as the step-wise algorithm would meet it.
  int compile(const char* pattern) {
    int head = -1;
    int lastSeq = -1;
    std::string current = pattern;
    for (;;) {
      char token[SREGEX_TOKEN_SIZE];
      char rest[SREGEX_TOKEN_SIZE];
      const int type = next_token(current.c_str(), token, sizeof token, rest, sizeof rest);
      int node;
      bool more = false;
      if (type < 0) {
        node = add({.kind = Kind::Error, .code = type});
      } else if (type == NONE) {
        node = add({.kind = Kind::Empty});
      } else if (rest[0] == '\0') {
        node = single(type, token);
      } else {
        node = add({.kind = Kind::Seq, .type = type});
        const int first = compile(token);  // the token is matched as a pattern of its own
        prog_.nodes[node].first = first;
        current = rest;
        more = true;
      }
      if (lastSeq >= 0) {
        prog_.nodes[lastSeq].rest = node;
      } else {
        head = node;
      }
      if (!more) return head;
      lastSeq = node;
    }
  }

  void finish(int root) {
    prog_.root = root;
    leadDone_.assign(prog_.nodes.size(), false);
    for (std::size_t i = 0; i < prog_.nodes.size(); ++i) lead(static_cast<int>(i));
    for (const ByteSet& set : prog_.sets) {
      prog_.scans.emplace_back(set);
      prog_.dots.push_back(is_dot(set));
    }
    prog_.retry.assign(prog_.nodes.size(), {});
    prog_.runs.assign(prog_.nodes.size(), {});
    int lead = root;
    while (prog_.nodes[lead].kind == Kind::Seq) lead = prog_.nodes[lead].first;
    prog_.lineStartLead = prog_.nodes[lead].kind == Kind::LineStart;
    prog_.fullLead = !prog_.lineStartLead && prog_.nodes[root].lead >= 0;
    const Node& r = prog_.nodes[root];
    if (r.kind == Kind::Seq && (r.type == ZERO_MORE || r.type == ONE_MORE)) {
      const Node& f = prog_.nodes[r.first];
      prog_.skipRuns = f.kind == Kind::Rep && f.set >= 0 && f.op != '?';
    }
    required_bytes(root);
  }

 private:
  int add(Node node) {
    prog_.nodes.push_back(std::move(node));
    return static_cast<int>(prog_.nodes.size() - 1);
  }

  int add_set(const ByteSet& set) {
    prog_.sets.push_back(set);
    return static_cast<int>(prog_.sets.size() - 1);
  }

  // The literal runs every match of the whole pattern contains, one after the
  // other: each character of theirs stands in the text at or after the
  // match's start (raw or, with SREGEX_ICASE, in the other case; a dropped
  // escape or a folded line end keeps the character itself). Only usable
  // when no step can end the search with an error instead.
  void required_bytes(int root) {
    for (const Node& n : prog_.nodes) {
      if (n.kind == Kind::Error || n.kind == Kind::StepError) return;
    }
    std::vector<const std::string*> literals;
    for (int id = root;;) {
      const Node& n = prog_.nodes[id];
      const Node& part = n.kind == Kind::Seq ? prog_.nodes[n.first] : n;
      if (part.kind == Kind::Literal) literals.push_back(&part.literal);
      if (n.kind != Kind::Seq) break;
      id = n.rest;
    }
    ByteSet seen{};
    for (const std::string* lit : literals) {
      for (char ch : *lit) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (seen[c] || prog_.required.size() >= 8) continue;
        seen[c] = true;
        const bool fold = (mode_ & SREGEX_ICASE) != 0 && is_lower(c);
        prog_.required.push_back({c, static_cast<unsigned char>(fold ? to_upper(c) : c)});
      }
    }
  }

  // A token alone (the remainder is empty), as the step dispatches it.
  int single(int type, const char* token) {
    switch (type) {
      case CHARSEQ: {
        char normal[SREGEX_TOKEN_SIZE];
        normalize_literal(token, normal, sizeof normal, mode_);
        return add({.kind = Kind::Literal, .literal = normal});
      }
      case CHARCLASS: {
        ClassTable table;
        const int rc = build_class(token, table, mode_);
        if (rc < 0) return add({.kind = Kind::StepError, .code = rc});
        ByteSet set;
        for (int b = 0; b < 256; ++b) set[b] = table[b & 127] != 0;
        return add({.kind = Kind::Class, .set = add_set(set)});
      }
      case ZERO_ONE:
      case ZERO_MORE:
      case ONE_MORE:
        return repetition(type, token);
      case ASTART:
        return add({.kind = Kind::LineStart});
      case AEND:
        return add({.kind = Kind::End, .dollar = std::strcmp(token, "$") == 0});
      case GROUP:
        return group(token);
      default:
        return add({.kind = Kind::StepError, .code = SREGEX_ERR_SYNTAX});
    }
  }

  int repetition(int type, const char* token) {
    const std::size_t length = std::strlen(token);
    // Only a token cut to the buffer size can lose its repetition character.
    if (length < 2 || !isRepetition(token[length - 1])) return add({.kind = Kind::StepError, .code = SREGEX_ERR_SIZE});
    const std::string element(token, length - 1);
    const int node = add({.kind = Kind::Rep, .type = type, .op = token[length - 1]});
    const int elem = compile(element.c_str());
    prog_.nodes[node].first = elem;
    const Node& e = prog_.nodes[elem];
    if (e.kind == Kind::Class) {
      prog_.nodes[node].set = e.set;
    } else if (e.kind == Kind::Literal && mode_ == 0 && e.literal.size() == 1) {
      ByteSet set{};
      set[static_cast<unsigned char>(e.literal[0])] = true;
      prog_.nodes[node].set = add_set(set);
    }
    return node;
  }

  int group(const char* token) {
    const char* close = std::strrchr(token, ')');
    if (token[0] != '(' || close == nullptr || close[1] != '\0') return add({.kind = Kind::StepError, .code = SREGEX_ERR_PARENS});
    const std::string inner(token + 1, close);
    if (inner.empty()) return add({.kind = Kind::StepError, .code = SREGEX_ERR_PATTERN});
    const int node = add({.kind = Kind::Group});
    const int in = compile(inner.c_str());
    prog_.nodes[node].first = in;
    return node;
  }

  // The bytes at which a node can return anything but "no match" when its
  // line-start flag is false; -1 when that is any byte.
  int lead(int id) {
    const Node& n = prog_.nodes[id];
    if (leadDone_[id]) return n.lead;
    int result = -1;
    switch (n.kind) {
      case Kind::Literal:
        if (!n.literal.empty()) result = literal_lead(n.literal[0]);
        break;
      case Kind::Class:
        result = n.set;
        break;
      case Kind::End: {
        ByteSet set{};
        set[0] = true;
        if ((mode_ & SREGEX_MULTILINE) != 0 && n.dollar) set['\n'] = true;
        result = add_set(set);
        break;
      }
      case Kind::LineStart:
        result = add_set(ByteSet{});
        break;
      case Kind::Rep:
        result = n.op == '+' ? lead(n.first) : -1;
        break;
      case Kind::Group:
      case Kind::Seq:
        result = lead(n.first);
        break;
      default:
        break;
    }
    prog_.nodes[id].lead = result;
    leadDone_[id] = true;
    return result;
  }

  // Raw bytes that can begin a normalised subject character equal to c.
  int literal_lead(char c) {
    ByteSet set{};
    const unsigned char u = static_cast<unsigned char>(c);
    set[u] = true;
    if (mode_ != 0) {
      set['\\'] = true;
      if ((mode_ & SREGEX_ICASE) != 0 && is_lower(u)) set[to_upper(u)] = true;
      if (c == '\n') set['\r'] = true;
    }
    set[0] = false;
    return add_set(set);
  }

  Program& prog_;
  unsigned mode_;
  std::vector<bool> leadDone_;
};

// ---------------------------------------------------------------- matching

class Matcher {
 public:
  Matcher(Program& prog, const unsigned char* text, long len)
      : prog_(prog), nodes_(prog.nodes.data()), text_(text), len_(len), gen_(++prog.gen), mode_(prog.mode) {}

  // One step: node matched exactly at q.
  Step eval(int id, long q, bool lineStart) {
    const Node& n = nodes_[id];
    switch (n.kind) {
      case Kind::Error: return {n.code};
      case Kind::Empty: return kNoMatch;
      case Kind::Seq: return sequence(id, q, lineStart);
      default: break;
    }
    // A token tested past the terminator does not match.
    if (q > len_) return kNoMatch;
    switch (n.kind) {
      case Kind::StepError: return {n.code};
      case Kind::Literal: return literal(n, q);
      case Kind::Class: return prog_.sets[n.set][text_[q]] ? unit_match(1) : kNoMatch;
      case Kind::Rep: return repetition(id, q);
      case Kind::LineStart: return lineStart ? unit_match(0) : kNoMatch;
      case Kind::End:
        if (q == len_) return unit_match(0);
        if ((mode_ & SREGEX_MULTILINE) != 0 && n.dollar && text_[q] == '\n') return unit_match(1);
        return kNoMatch;
      case Kind::Group: return eval(n.first, q, false);
      default: return kNoMatch;
    }
  }

  // End of the run of member bytes of a one-byte repetition starting at q.
  long run_end(int id, long q) {
    RunCache& c = prog_.runs[id];
    const int setId = nodes_[id].set;
    const ByteSet& set = prog_.sets[setId];
    if (c.gen == gen_) {
      if (q >= c.start && q <= c.end) return c.end;
      if (q < c.start) {
        long e = q;
        while (e < c.start && set[text_[e]]) ++e;
        if (e == c.start) {
          c.start = q;
          return c.end;
        }
        c = {gen_, q, e};
        return e;
      }
    }
    long e = q;
    if (prog_.dots[setId]) {
      const void* lf = std::memchr(text_ + q, '\n', static_cast<std::size_t>(len_ - q));
      e = lf != nullptr ? static_cast<const unsigned char*>(lf) - text_ : len_;
    } else {
      while (e < len_ && set[text_[e]]) ++e;
    }
    c = {gen_, q, e};
    return e;
  }

 private:
  // match_literal: the normalised token against the subject at q (normalised
  // too in a non-zero mode); the length counts the subject's own characters.
  Step literal(const Node& n, long q) const {
    const std::string& lit = n.literal;
    const long k = static_cast<long>(lit.size());
    if (mode_ == 0) {
      if (len_ - q < k || std::memcmp(text_ + q, lit.data(), static_cast<std::size_t>(k)) != 0) return kNoMatch;
      return unit_match(k);
    }
    long j = q;
    for (long i = 0; i < k; ++i) {
      const NormalChar c = normal_char(reinterpret_cast<const char*>(text_ + j), mode_);
      if (c.width == 0 || c.c != lit[static_cast<std::size_t>(i)]) return kNoMatch;
      j += static_cast<long>(c.width);
    }
    return unit_match(j - q);
  }

  // match_repetition: greedy iterations of the element.
  Step repetition(int id, long q) {
    const Node& n = nodes_[id];
    const long available = len_ - q;
    long count = 0;
    long offset = 0;
    long lastLength = 0;
    if (n.set >= 0) {
      if (available >= 1) {
        count = run_end(id, q) - q;
        if (n.op == '?') count = std::min(count, 1L);
      }
      offset = count;
      lastLength = 1;
    } else if (available >= 1) {
      for (;;) {
        const Step r = eval(n.first, q + offset, false);
        if (r.code < 0) return r;
        if (r.code == SREGEX_NOMATCH) break;
        ++count;
        offset += r.length;
        lastLength = r.length;
        if (n.op == '?' || offset >= available || r.length == 0) break;
      }
    }
    if (count >= 1) return {SREGEX_MATCH, offset, count, offset - lastLength};
    if (n.op == '+') return kNoMatch;
    return {SREGEX_MATCH, 0, 0, 0};
  }

  // match_here with a remainder: the first token, then the remainder behind
  // it; when that fails behind a repetition, the repetition gives back
  // iterations as long as its last one, from the last one down.
  Step sequence(int id, long p, bool lineStart) {
    const Node& n = nodes_[id];
    const Step first = eval(n.first, p, lineStart);
    if (first.code <= 0) return first;
    const Step rest = eval(n.rest, p + first.length, false);
    if (rest.code == SREGEX_MATCH) return unit_match(first.length + rest.length);
    if (rest.code < 0) return rest;
    if (!is_repetition_type(n.type)) return kNoMatch;
    const long minCount = n.type == ONE_MORE ? 2 : 1;
    const long step = first.length - first.last;
    // With a zero step every retry is the position that has just failed.
    if (first.count < minCount || first.last < 0 || step <= 0) return kNoMatch;
    const long tries = std::min(first.count - minCount, first.last / step);
    const long end = p + first.last;
    long at = 0;
    long length = 0;
    if (!retry(id, end - tries * step, end, step, at, length)) return kNoMatch;
    return unit_match(at - p + length);
  }

  // The highest q = end - k*step in [lo, end] where the remainder of node id
  // matches. Errors there do not stop the search.
  bool retry(int id, long lo, long end, long step, long& at, long& length) {
    RetryCache& c = prog_.retry[id];
    long q;
    if (c.gen == gen_ && c.end == end && c.step == step) {
      if (c.found) {
        if (c.foundAt < lo) return false;
        at = c.foundAt;
        length = c.foundLength;
        return true;
      }
      if (lo >= c.low) return false;
      q = c.low - step;
    } else {
      c = {gen_, end, step, end + step, false, 0, 0};
      q = end;
    }
    const int restId = nodes_[id].rest;
    const int leadSet = nodes_[restId].lead;
    std::optional<PrevCursor> cursor;
    if (leadSet >= 0 && step == 1) cursor.emplace(prog_.scans[leadSet], text_, lo);
    // c.low: every candidate from c.low up to end has been tried.
    while (q >= lo) {
      if (leadSet >= 0) {
        if (step == 1) {
          q = cursor->prev(q);
          if (q < lo) {
            c.low = lo;
            break;
          }
        } else if (!prog_.sets[leadSet][text_[q]]) {
          c.low = q;
          q -= step;
          continue;
        }
      }
      c.low = q;
      const Step r = eval(restId, q, false);
      if (r.code == SREGEX_MATCH) {
        c.found = true;
        c.foundAt = at = q;
        c.foundLength = length = r.length;
        return true;
      }
      q -= step;
    }
    return false;
  }

  Program& prog_;
  const Node* nodes_;
  const unsigned char* text_;
  long len_;
  std::uint64_t gen_;
  unsigned mode_;
};

// ---------------------------------------------------------------- cache

std::uint64_t hash_pattern(const char* pattern, std::size_t& length) {
  std::uint64_t h = 1469598103934665603ull;
  const char* p = pattern;
  for (; *p != '\0'; ++p) {
    h ^= static_cast<unsigned char>(*p);
    h *= 1099511628211ull;
  }
  length = static_cast<std::size_t>(p - pattern);
  return h;
}

// Compiled patterns of this thread: 16 sets of 4, least recently used out.
class ProgramCache {
 public:
  Program& get(const char* pattern, unsigned mode) {
    std::size_t length = 0;
    const std::uint64_t h = hash_pattern(pattern, length) ^ (static_cast<std::uint64_t>(mode) << 61);
    Entry* set = &entries_[(h & (kSets - 1)) * kWays];
    ++clock_;
    Entry* victim = set;
    for (std::size_t i = 0; i < kWays; ++i) {
      Entry& e = set[i];
      if (e.program && e.hash == h && e.mode == mode && e.pattern.size() == length &&
          std::memcmp(e.pattern.data(), pattern, length) == 0) {
        e.used = clock_;
        return *e.program;
      }
      if (!e.program || e.used < victim->used) victim = &e;
    }
    victim->hash = h;
    victim->mode = mode;
    victim->pattern.assign(pattern, length);
    victim->used = clock_;
    victim->program = std::make_unique<Program>();
    Program& prog = *victim->program;
    prog.mode = mode;
    Compiler compiler(prog, mode);
    compiler.finish(compiler.compile(pattern));
    return prog;
  }

 private:
  struct Entry {
    std::uint64_t hash = 0;
    unsigned mode = 0;
    std::string pattern;
    std::uint64_t used = 0;
    std::unique_ptr<Program> program;
  };
  static constexpr std::size_t kSets = 16;
  static constexpr std::size_t kWays = 4;
  std::array<Entry, kSets * kWays> entries_{};
  std::uint64_t clock_ = 0;
};

Program& program_for(const char* pattern, unsigned mode) {
  thread_local ProgramCache cache;
  return cache.get(pattern, mode);
}

// The last position a match can start at: none can start behind the last
// occurrence of a byte it needs. Worth looking up on long texts only.
long last_start(const Program& prog, const unsigned char* subject, long len) {
  long lastStart = len - 1;
  if (len < 256) return lastStart;
  for (const auto& bytes : prog.required) {
    long last = -1;
    for (unsigned char b : bytes) {
      const void* hit = memrchr(subject, b, static_cast<std::size_t>(len));
      if (hit != nullptr) last = std::max(last, static_cast<long>(static_cast<const unsigned char*>(hit) - subject));
    }
    lastStart = std::min(lastStart, last);
  }
  return lastStart;
}

constexpr bool valid_mode(unsigned mode) { return (mode & ~(SREGEX_ICASE | SREGEX_MULTILINE)) == 0; }

}  // namespace

bool can_backtrack(int type, long count, long offset) {
  if (offset < 0) return false;
  if (type == ZERO_ONE || type == ZERO_MORE) return count >= 1;
  if (type == ONE_MORE) return count >= 2;
  return false;
}

int match_here(const char* pattern, const char* text, long pos, unsigned mode, bool lineStart, MatchInfo* info) {
  if (pattern == nullptr) return SREGEX_ERR_NOPATTERN;
  if (text == nullptr) return SREGEX_ERR_NOTEXT;
  if (!valid_mode(mode)) return SREGEX_ERR_MODE;
  if (pos < 0) return SREGEX_NOMATCH;
  Program& prog = program_for(pattern, mode);
  const long len = static_cast<long>(std::strlen(text));
  Matcher matcher(prog, reinterpret_cast<const unsigned char*>(text), len);
  const Step r = matcher.eval(prog.root, pos, lineStart);
  if (r.code == SREGEX_MATCH && info != nullptr) *info = {0, r.last, r.count, r.length};
  return r.code;
}

// sregex_match: tries every start position from the first character on; the
// first match found there is the answer.
int sregex_match(const char* pattern, const char* text, unsigned mode, char* out, std::size_t outSize) {
  if (pattern == nullptr || *pattern == '\0') return SREGEX_ERR_NOPATTERN;
  if (text == nullptr || *text == '\0') return SREGEX_ERR_NOTEXT;
  if (!valid_mode(mode)) return SREGEX_ERR_MODE;
  Program& prog = program_for(pattern, mode);
  const auto* subject = reinterpret_cast<const unsigned char*>(text);
  const long len = static_cast<long>(std::strlen(text));
  Matcher matcher(prog, subject, len);
  const Node& root = prog.nodes[prog.root];
  const bool multiline = (mode & SREGEX_MULTILINE) != 0;
  std::optional<NextCursor> starts;
  if (prog.fullLead) starts.emplace(prog.scans[root.lead], subject, len);
  const ByteSet* runSet = prog.skipRuns ? &prog.sets[prog.nodes[root.first].set] : nullptr;

  const long lastStart = last_start(prog, subject, len);
  long p = 0;
  while (p <= lastStart) {
    if (prog.lineStartLead && p > 0 && subject[p - 1] != '\n') {
      // "^" can only match at a line start: the next one follows an LF.
      if (!multiline) break;
      const void* lf = std::memchr(subject + p, '\n', static_cast<std::size_t>(len - p));
      if (lf == nullptr) break;
      p = static_cast<const unsigned char*>(lf) - subject + 1;
      continue;
    }
    if (starts) {
      p = starts->next(p);
      if (p > lastStart) break;
    }
    const bool lineStart = p == 0 || (multiline && subject[p - 1] == '\n');
    const Step r = matcher.eval(prog.root, p, lineStart);
    if (r.code < 0) return r.code;
    if (r.code == SREGEX_MATCH) {
      if (out != nullptr && outSize != 0) {
        const std::size_t n = static_cast<std::size_t>(std::min({r.length, len - p, static_cast<long>(outSize - 1)}));
        std::memcpy(out, text + p, n);
        out[n] = '\0';
      }
      return SREGEX_MATCH;
    }
    if (runSet != nullptr && (*runSet)[subject[p]]) {
      // Every later start inside this run, and its end, retries a subset of
      // what has just failed.
      p = matcher.run_end(root.first, p) + 1;
      continue;
    }
    ++p;
  }
  return SREGEX_NOMATCH;
}
