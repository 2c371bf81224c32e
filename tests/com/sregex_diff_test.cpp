// The engine against the plain reference matcher: the module patterns on
// console lines, and generated patterns and texts (fixed seeds, so every run
// checks the same inputs).
#include "com/sregex.h"

#include "support/sregex_corpus.h"
#include "support/sregex_reference.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

namespace ref = sregex_reference;

constexpr unsigned kModes[] = {0, SREGEX_ICASE, SREGEX_MULTILINE, SREGEX_ICASE | SREGEX_MULTILINE};

std::string shown(const std::string& s) { return sregex_printable(s.c_str()); }

// Compares one search, with a large and a tiny output buffer; returns false
// (after reporting) on the first difference.
bool same_search(const std::string& pattern, const std::string& text, unsigned mode) {
  for (std::size_t size : {std::size_t{300}, std::size_t{4}}) {
    std::string a(size, '#');
    std::string b(size, '#');
    const int ra = sregex_match(pattern.c_str(), text.c_str(), mode, a.data(), size);
    const int rb = ref::sregex_match(pattern.c_str(), text.c_str(), mode, b.data(), size);
    if (ra != rb || (ra == SREGEX_MATCH && std::strcmp(a.c_str(), b.c_str()) != 0)) {
      ADD_FAILURE() << "pattern \"" << shown(pattern) << "\" text \"" << shown(text) << "\" mode " << mode
                    << ": engine " << ra << " \"" << shown(a.c_str()) << "\", reference " << rb << " \""
                    << shown(b.c_str()) << "\"";
      return false;
    }
  }
  return true;
}

// Compares every step of the pattern at every position, both line-start flags.
bool same_steps(const std::string& pattern, const std::string& text, unsigned mode) {
  const long len = static_cast<long>(text.size());
  for (long pos = 0; pos <= len + 1; ++pos) {
    for (bool lineStart : {false, true}) {
      MatchInfo a;
      ref::Info b;
      const int ra = match_here(pattern.c_str(), text.c_str(), pos, mode, lineStart, &a);
      const int rb = ref::match_here(pattern.c_str(), text.c_str(), pos, mode, lineStart, &b);
      const bool same = ra == rb && (ra != SREGEX_MATCH || (a.length == b.length && a.count == b.count &&
                                                              a.last == b.last && a.start == b.start));
      if (!same) {
        ADD_FAILURE() << "step \"" << shown(pattern) << "\" text \"" << shown(text) << "\" pos " << pos << " mode "
                      << mode << " lineStart " << lineStart << ": engine " << ra << " (" << a.length << ","
                      << a.count << "," << a.last << "), reference " << rb << " (" << b.length << "," << b.count
                      << "," << b.last << ")";
        return false;
      }
    }
  }
  return true;
}

bool same_syntax(const std::string& pattern) {
  char ta[256] = "-", ra[256] = "-", tb[256] = "-", rb[256] = "-";
  const int a = next_token(pattern.c_str(), ta, sizeof ta, ra, sizeof ra);
  const int b = ref::next_token(pattern.c_str(), tb, sizeof tb, rb, sizeof rb);
  if (a != b || std::strcmp(ta, tb) != 0 || std::strcmp(ra, rb) != 0) {
    ADD_FAILURE() << "next_token \"" << shown(pattern) << "\": engine " << a << " \"" << shown(ta) << "\" \""
                  << shown(ra) << "\", reference " << b << " \"" << shown(tb) << "\" \"" << shown(rb) << "\"";
    return false;
  }
  for (unsigned mode : kModes) {
    char na[64], nb[64];
    const int la = normalize_literal(pattern.c_str(), na, sizeof na, mode);
    const int lb = ref::normalize_literal(pattern.c_str(), nb, sizeof nb, mode);
    if (la != lb || std::strcmp(na, nb) != 0) {
      ADD_FAILURE() << "normalize_literal \"" << shown(pattern) << "\" mode " << mode;
      return false;
    }
    if (a == CHARCLASS || pattern[0] == '[') {
      const char* cls = a == CHARCLASS ? ta : pattern.c_str();
      ClassTable ca;
      unsigned char cb[128];
      const int xa = build_class(cls, ca, mode);
      const int xb = ref::build_class(cls, cb, mode);
      if (xa != xb || (xa == 0 && std::memcmp(ca.data(), cb, 128) != 0)) {
        ADD_FAILURE() << "build_class \"" << shown(cls) << "\" mode " << mode << ": " << xa << " vs " << xb;
        return false;
      }
    }
  }
  return true;
}

class Generator {
 public:
  explicit Generator(unsigned seed) : rng_(seed) {}

  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  char pick(const char* chars) { return chars[below(static_cast<int>(std::strlen(chars)))]; }

  // Any characters of the syntax, in any order.
  std::string raw_pattern() {
    std::string p;
    const int n = 1 + below(14);
    for (int i = 0; i < n; ++i) p += pick("aab.*+?[]()^$\\-dsSwAZ| \n\r:x");
    return p;
  }

  // Mostly well-formed patterns: elements with optional repetitions.
  std::string structured_pattern() {
    std::string p;
    if (below(6) == 0) p += below(2) ? "^" : "\\A";
    const int n = 1 + below(5);
    for (int i = 0; i < n; ++i) {
      p += element(true);
      if (below(3) == 0) p += pick("*+?");
    }
    if (below(6) == 0) p += below(3) ? "$" : "\\Z";
    return p;
  }

  std::string text() {
    std::string t;
    const int n = below(28);
    for (int i = 0; i < n; ++i) t += pick("aaabbbxy:- .\\\n\rAB0(9)_*#");
    return t;
  }

 private:
  std::string element(bool groups) {
    switch (below(groups ? 7 : 6)) {
      case 0: {
        std::string run;
        const int n = 1 + below(3);
        for (int i = 0; i < n; ++i) run += pick("abxy: -AB");
        return run;
      }
      case 1: {
        static const char* const escapes[] = {"\\.", "\\(", "\\)", "\\\\", "\\*", "\\d", "\\s", "\\w",
                                              "\\S", "\\a", "\\r", "\\-", "\\$", "\\[", "\\n"};
        return escapes[below(15)];
      }
      case 2: return ".";
      case 3: {
        static const char* const classes[] = {"[ab]", "[^a]", "[a-c]", "[\\d]", "[\\S-]", "[-x]",
                                              "[A-B]", "[\\s]", "[^\\w]", "[z-a]", "[]", "[\\]a]"};
        return classes[below(12)];
      }
      case 4: return std::string(1, pick("ab\n\r"));
      case 5: return std::string(1, pick("$^"));
      default: {
        std::string g = "(" + element(false);
        if (below(2)) g += element(false);
        if (below(3) == 0) g += pick("*+?");
        return g + ")";
      }
    }
  }

  std::mt19937 rng_;
};

TEST(SregexDifferential, ModulePatternsOnConsoleLines) {
  Generator gen(7);
  const auto& patterns = sregex_corpus::module_patterns();
  std::vector<std::string> samples;
  for (const auto& mp : patterns) samples.push_back(sregex_corpus::sample_match(mp.pattern));
  long compared = 0;
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    const auto& mp = patterns[i];
    // Console lines, the pattern's own match in a few settings, other
    // patterns' matches embedded in lines, and generated noise.
    const auto& lines = sregex_corpus::console_lines();
    std::vector<std::string> texts;
    for (std::size_t k = 0; k < 8; ++k) texts.push_back(lines[(i * 5 + k) % lines.size()]);
    texts.push_back(samples[i]);
    texts.push_back("x" + samples[i] + "\r\n");
    texts.push_back("prompt\n" + samples[i] + " tail");
    texts.push_back("a\\" + samples[i]);
    for (int k = 0; k < 4; ++k) {
      const std::string& other = samples[static_cast<std::size_t>(gen.below(static_cast<int>(samples.size())))];
      texts.push_back(gen.text() + other + gen.text());
    }
    for (const std::string& t : texts) {
      if (t.empty()) continue;
      ASSERT_TRUE(same_search(mp.pattern, t, mp.mode));
      ++compared;
    }
    for (unsigned mode : kModes) {
      for (int k = 0; k < 3; ++k) ASSERT_TRUE(same_search(mp.pattern, gen.text() + "a", mode));
    }
    ASSERT_TRUE(same_syntax(mp.pattern));
  }
  EXPECT_GT(compared, 4000);
}

TEST(SregexDifferential, ModulePatternsMatchTheirSamples) {
  // The samples drive the benchmark; every one must be a match.
  for (const auto& mp : sregex_corpus::module_patterns()) {
    const std::string sample = sregex_corpus::sample_match(mp.pattern);
    // A pattern anchored at the start needs its sample at a line start.
    const std::string line = std::string(mp.pattern[0] == '^' ? "0123\n" : "0123 ") + sample;
    EXPECT_EQ(sregex_match(mp.pattern, line.c_str(), mp.mode, nullptr, 0), SREGEX_MATCH) << mp.pattern;
  }
}

TEST(SregexDifferential, GeneratedPatternsAndTexts) {
  Generator gen(20240611);
  for (int i = 0; i < 20000; ++i) {
    const std::string pattern = i % 2 ? gen.raw_pattern() : gen.structured_pattern();
    ASSERT_TRUE(same_syntax(pattern));
    for (int k = 0; k < 4; ++k) {
      const std::string text = gen.text();
      const unsigned mode = kModes[gen.below(4)];
      ASSERT_TRUE(same_search(pattern, text, mode));
      if (k == 0) {
        ASSERT_TRUE(same_steps(pattern, text, mode));
      }
    }
  }
}

TEST(SregexDifferential, GeneratedPatternsOnLongTexts) {
  // Texts of 256 characters and more take the engine's long-text paths.
  Generator gen(99);
  int compared = 0;
  for (int i = 0; i < 2000; ++i) {
    const std::string pattern = i % 3 ? gen.structured_pattern() : gen.raw_pattern();
    std::string text;
    while (text.size() < 256 + static_cast<std::size_t>(gen.below(64))) text += gen.text() + "a";
    if (gen.below(2) == 0) {
      // Leave out one character, so that some patterns lack a byte they need.
      const char gone = gen.pick("abxy:- .AB");
      std::erase(text, gone);
      while (text.size() < 256) text += "b";
    }
    const unsigned mode = kModes[gen.below(4)];
    std::string a(16, '#');
    std::string b(16, '#');
    const int ra = sregex_match(pattern.c_str(), text.c_str(), mode, a.data(), a.size());
    ref::set_step_budget(300000);
    const int rb = ref::sregex_match(pattern.c_str(), text.c_str(), mode, b.data(), b.size());
    const bool spent = ref::budget_spent();
    ref::set_step_budget(-1);
    if (spent) continue;
    ++compared;
    ASSERT_EQ(ra, rb) << "pattern \"" << shown(pattern) << "\" text \"" << shown(text) << "\" mode " << mode;
    if (ra == SREGEX_MATCH) {
      ASSERT_STREQ(a.c_str(), b.c_str()) << shown(pattern);
    }
  }
  EXPECT_GT(compared, 1800);
}

TEST(SregexDifferential, LongTextsAndOverlongPatterns) {
  // Subjects beyond the 2000-byte normalisation buffer, matches behind it.
  std::string body;
  while (body.size() < 2600) body += "ab\\c d\r\nx";
  const std::string tail = body + "Firewall (y/n)?";
  for (const char* p : {"Firewall", ".*Firewall.*", "[\\S]+ \\(y", "d\nx", "c d", "b.*F"}) {
    for (unsigned mode : kModes) {
      ASSERT_TRUE(same_search(p, body, mode));
      ASSERT_TRUE(same_search(p, tail, mode));
    }
  }
  // Tokens and remainders at and around their buffer sizes.
  for (int n : {250, 254, 255, 256, 257}) {
    for (const std::string& p : {std::string(n, 'a'), "[" + std::string(n - 2, 'a') + "]", "[" + std::string(n - 2, 'a') + "]*",
                                 "(" + std::string(n - 2, 'a') + ")", "(" + std::string(n - 3, 'a') + ")?",
                                 std::string(n - 2, 'a') + "\\.", "x(a)" + std::string(n - 5, 'b'),
                                 "[" + std::string(n - 3, 'a') + "\\]]+x"}) {
      ASSERT_TRUE(same_syntax(p));
      ASSERT_TRUE(same_search(p, std::string(300, 'a') + "]x", 0));
      ASSERT_TRUE(same_search(p, "zzz", SREGEX_MULTILINE));
    }
  }
}

}  // namespace
