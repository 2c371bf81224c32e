#include "com/sregex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr unsigned ML = SREGEX_MULTILINE;
constexpr unsigned IC = SREGEX_ICASE;

struct Split {
  const char* pattern;
  int type;
  const char* token;
  const char* rest;
};

TEST(SregexTokenizer, SplitsTheFirstToken) {
  const Split cases[] = {
      {"abc*", CHARSEQ, "ab", "c*"},
      {"a\\.*", CHARSEQ, "a", "\\.*"},
      {"a\\\\*", CHARSEQ, "a", "\\\\*"},
      {"c*", ZERO_MORE, "c*", ""},
      {"\\.*x", ZERO_MORE, "\\.*", "x"},
      {"a$b", CHARSEQ, "a$b", ""},
      {"ab$", CHARSEQ, "ab", "$"},
      {"$", AEND, "$", ""},
      {"\\Z", AEND, "\\Z", ""},
      {"\\Ax", ASTART, "\\A", "x"},
      {"^[\\s]*#+", ASTART, "^", "[\\s]*#+"},
      {"[\\s]*#+", ZERO_MORE, "[\\s]*", "#+"},
      {"(y/n)?", ZERO_ONE, "(y/n)?", ""},
      {"[\\S]+-mz", ONE_MORE, "[\\S]+", "-mz"},
      {".*", ZERO_MORE, ".*", ""},
      {".x", CHARCLASS, ".", "x"},
      {"ab.c", CHARSEQ, "ab", ".c"},
      {"ab(c)", CHARSEQ, "ab", "(c)"},
      {"ab[c]", CHARSEQ, "ab", "[c]"},
      {"a^-b", CHARSEQ, "a^-b", ""},
      {"a|b{2}", CHARSEQ, "a|b{2}", ""},
      {"x\\(y", CHARSEQ, "x\\(y", ""},
      {"x\\Ay", CHARSEQ, "x", "\\Ay"},
      {"x\\dy", CHARSEQ, "x", "\\dy"},
      {"[a]]", CHARCLASS, "[a]", "]"},
      {"[[a]b]x", CHARCLASS, "[[a]b]", "x"},
      {"[\\]]x", CHARCLASS, "[\\]]", "x"},
      {"[a]?b", ZERO_ONE, "[a]?", "b"},
      {"(a[x]b)c", GROUP, "(a[x]b)", "c"},
      {"(\\))+", ONE_MORE, "(\\))+", ""},
      {"(.[\\w]+)?x", ZERO_ONE, "(.[\\w]+)?", "x"},
      {"--More--", CHARSEQ, "--More--", ""},
      {"%.*", CHARSEQ, "%", ".*"},
      {"-*", ZERO_MORE, "-*", ""},
      // A bare class escape stands for its set, like its bracketed form.
      {"\\d+x", ONE_MORE, "\\d+", "x"},
      {"\\Wa", CHARCLASS, "\\W", "a"},
      {"\\qa", CHARSEQ, "\\qa", ""},
  };
  for (const Split& c : cases) {
    char token[256] = "unset";
    char rest[256] = "unset";
    EXPECT_EQ(next_token(c.pattern, token, sizeof token, rest, sizeof rest), c.type) << c.pattern;
    EXPECT_STREQ(token, c.token) << c.pattern;
    EXPECT_STREQ(rest, c.rest) << c.pattern;
  }
}

TEST(SregexTokenizer, ReportsDefectsAndWritesNothing) {
  const std::string longRun(300, 'a');
  const std::string longRest = "(a)" + std::string(256, 'b');
  struct Case {
    std::string pattern;
    int code;
  } cases[] = {
      {"*a", SREGEX_ERR_REPEAT},       {"+a", SREGEX_ERR_REPEAT},     {"?a", SREGEX_ERR_REPEAT},
      {"()", SREGEX_ERR_PATTERN},      {"(a())", SREGEX_ERR_PATTERN}, {"(a(b))", SREGEX_ERR_NESTED},
      {"(ab", SREGEX_ERR_PARENS},      {"ab)", SREGEX_ERR_PARENS},    {"[ab", SREGEX_ERR_BRACKETS},
      {"ab]", SREGEX_ERR_BRACKETS},    {"ab\\", SREGEX_ERR_BACKSLASH}, {"\\", SREGEX_ERR_BACKSLASH},
      {"[a\\", SREGEX_ERR_BACKSLASH},  {"(a\\", SREGEX_ERR_BACKSLASH}, {"a)*", SREGEX_ERR_PARENS},
      {"([)", SREGEX_ERR_BRACKETS},    {"(a[)]b)c", SREGEX_ERR_BRACKETS},
      {longRun, SREGEX_ERR_SIZE},      {longRest, SREGEX_ERR_SIZE},
  };
  for (const Case& c : cases) {
    char token[256] = "unset";
    char rest[256] = "unset";
    EXPECT_EQ(next_token(c.pattern.c_str(), token, sizeof token, rest, sizeof rest), c.code) << c.pattern;
    EXPECT_STREQ(token, "unset") << c.pattern;
    EXPECT_STREQ(rest, "unset") << c.pattern;
  }
  char token[8] = "unset";
  EXPECT_EQ(next_token("", token, sizeof token, nullptr, 0), NONE);
  EXPECT_EQ(next_token(nullptr, token, sizeof token, nullptr, 0), NONE);
}

TEST(SregexTokenizer, CutsAnOverlongLastTokenToItsBuffer) {
  // A run that ends exactly at 256 characters is cut to 255; the pattern's
  // last character is lost, as the fixed token buffer loses it.
  const std::string run(256, 'r');
  char token[256];
  char rest[256];
  EXPECT_EQ(next_token(run.c_str(), token, sizeof token, rest, sizeof rest), CHARSEQ);
  EXPECT_EQ(std::strlen(token), 255u);
  EXPECT_STREQ(rest, "");
  const std::string klass = "[" + std::string(254, 'k') + "]x";
  EXPECT_EQ(next_token(klass.c_str(), token, sizeof token, rest, sizeof rest), CHARCLASS);
  EXPECT_EQ(std::string(token), klass.substr(0, 255));
  EXPECT_STREQ(rest, "x");
  // A remainder of 255 characters still fits its buffer.
  const std::string fits = "(a)" + std::string(255, 'b');
  EXPECT_EQ(next_token(fits.c_str(), token, sizeof token, rest, sizeof rest), GROUP);
  EXPECT_EQ(std::strlen(rest), 255u);
  // A smaller token buffer cuts the token likewise.
  char small[4];
  EXPECT_EQ(next_token("abcdef", small, sizeof small, rest, sizeof rest), CHARSEQ);
  EXPECT_STREQ(small, "abc");
}

struct ClassCase {
  const char* token;
  unsigned mode;
  std::string members;
  std::string others;
};

TEST(SregexClass, BuildsMembershipTables) {
  const std::string digits = "0123456789";
  const ClassCase cases[] = {
      {".", 0, std::string("a\r") + '\0', "\n"},
      {"[-a]", 0, "-a", "b"},
      {"[a-]", 0, "-a", "b"},
      {"[a-c]", 0, "abc", "dA-"},
      {"[a-c-e]", 0, "abcde", "f-"},
      {"[\\d]", 0, digits, "a "},
      {"[^\\d]", 0, std::string("a\n ") + '\0', digits},
      {"[\\s]", 0, " \t\r\n\v\f", "a"},
      {"[\\S]", 0, std::string("a-") + '\0', " \t"},
      {"[\\w]", 0, "aZ5_", "-. "},
      {"[\\W]", 0, "-. ", "aZ5_"},
      {"[\\D]", 0, "a", "5"},
      {"[a]", 0, "a", "A"},
      {"[a]", IC, "aA", "b"},
      {"[a]", ML, "aA", "b"},
      {"[\\a]", ML, "a", "A"},
      {"[\\A]", ML, "Aa", "b"},
      {"[\\A]", 0, "A", "a"},
      {"[A-C]", ML, "ABCabc", "d"},
      {"[-\\|/]", 0, "-|/", "\\"},
      {"[^a]", 0, std::string("b") + '\0', "a"},
      {"[]", 0, "", std::string("a") + '\0'},
      {"[\\d-z]", 0, "dxz0", "a"},  // the character before "-" is the escape's letter
  };
  for (const ClassCase& c : cases) {
    ClassTable table;
    ASSERT_EQ(build_class(c.token, table, c.mode), 0) << c.token;
    for (char m : c.members) EXPECT_TRUE(table[static_cast<unsigned char>(m) & 127]) << c.token << " member " << int(m);
    for (char o : c.others) EXPECT_FALSE(table[static_cast<unsigned char>(o) & 127]) << c.token << " other " << int(o);
  }
  ClassTable table;
  EXPECT_EQ(build_class("[z-a]", table, 0), SREGEX_ERR_RANGE);
  EXPECT_EQ(build_class("[\\s-a]", table, 0), SREGEX_ERR_RANGE);
  // A byte above 127 counts by its low seven bits.
  ASSERT_EQ(build_class("[\xC1]", table, 0), 0);
  EXPECT_TRUE(table['A']);
}

TEST(SregexNormalize, DropsEscapesAndFoldsLineEnds) {
  struct Case {
    const char* src;
    unsigned mode;
    std::size_t size;
    const char* expected;
  } cases[] = {
      {"x\ry", 0, 16, "x\ry"},
      {"x\r\ny", 0, 16, "x\ny"},
      {"x\n\ry", 0, 16, "x\ny"},
      {"\n\r\n", 0, 16, "\n\n"},
      {"\r\n\r", 0, 16, "\n\r"},
      {"\\A", IC, 16, "a"},
      {"AB", IC, 16, "ab"},
      {"AB", ML, 16, "AB"},
      {"a\\(b\\\\", 0, 16, "a(b\\"},
      {"ab\\", 0, 16, "ab"},
      {"abcdef", 0, 4, "abc"},
  };
  for (const auto& c : cases) {
    char out[16];
    const int n = normalize_literal(c.src, out, c.size, c.mode);
    EXPECT_STREQ(out, c.expected) << c.src;
    EXPECT_EQ(n, static_cast<int>(std::strlen(c.expected))) << c.src;
  }
}

struct MatchCase {
  const char* pattern;
  const char* text;
  unsigned mode;
  int result;
  const char* copied;  // text copied on a match
};

void expect_matches(const std::vector<MatchCase>& cases) {
  for (const MatchCase& c : cases) {
    char out[64] = "unset";
    EXPECT_EQ(sregex_match(c.pattern, c.text, c.mode, out, sizeof out), c.result)
        << "pattern \"" << c.pattern << "\" text \"" << c.text << "\" mode " << c.mode;
    if (c.result == SREGEX_MATCH) {
      EXPECT_STREQ(out, c.copied) << c.pattern << " in " << c.text;
    }
  }
}

TEST(SregexMatch, FindsTheLeftmostFirstReachedMatch) {
  expect_matches({
      {"b", "abc", 0, 1, "b"},
      {"^b", "abc", 0, 0, ""},
      {"^b", "a\nb", ML, 1, "b"},
      {"^b", "a\nb", 0, 0, ""},
      {"c$", "abc", 0, 1, "c"},
      {"$", "abc", 0, 0, ""},
      {"a$", "a\nb", ML, 1, "a\n"},
      {"a\\Z", "a\nb", ML, 0, ""},
      {"a.*c", "abcbc", 0, 1, "abcbc"},
      {"a.*d", "ab\ncd", 0, 0, ""},
      {"a+ab", "aab", 0, 1, "aab"},
      {"a+aab", "aab", 0, 0, ""},
      {"a*aab", "aab", 0, 1, "aab"},
      {"(y/n)?", "zzz", 0, 1, ""},
      {"(y/n)?", "y/n", 0, 1, "y/n"},
      {"LOGIN", "Login:", IC, 1, "Login"},
      {"LOGIN", "Login:", 0, 0, ""},
      {"[l]ogin", "Login", ML, 1, "Login"},
      {"login", "Login", ML, 0, ""},
      {"x.", "x", 0, 1, "x"},
      {"x[^a]", "x", 0, 1, "x"},
      {"x[a]", "x", 0, 0, ""},
      {".*Firewall.*", "a Firewall b", ML, 1, "a Firewall b"},
      {".*>", "switch:admin> ", ML, 1, "switch:admin>"},
      {"Another .* in progress", "xAnother download in progress!", ML, 1, "Another download in progress"},
      {"[\\S]+-mz[g]?\\.[\\S]+\\.bin(\\.[\\w]+)?", "  c3-mzg.12.bin.tar  ", ML, 1, "c3-mzg.12.bin.tar"},
      {"[\\S]+-mz[g]?\\.[\\S]+\\.bin(\\.[\\w]+)?", "  c3-mz.12.bin ", ML, 1, "c3-mz.12.bin"},
      {"Percent complete: [\\d]+", "Percent complete: 87%", ML, 1, "Percent complete: 87"},
      {"^[\\s]*#+", "x\n  ###y", ML, 1, "  ###"},
      {"reboot the system\\. (y/n)?", "reboot the system. (y/n)?", ML, 1, "reboot the system. "},
      {".*\\(Timed out\\)", "%Error (Timed out)", ML, 1, "%Error (Timed out)"},
      {"TopspinOS-.*-build[\\d]+\\.img", "TopspinOS-2.3.0-build123.img", 0, 1, "TopspinOS-2.3.0-build123.img"},
      {"b(oo)?t", "ftp://h/BOOT.img", IC, 1, "BOOT"},
      {"b(oo)?t", "ftp://h/os-bt.img", IC, 1, "bt"},
      {"[\\d]+\\.[\\d]+\\.[\\d]+ +[\\d]+\\.[\\d]+\\.[\\d]+", "Boot 1.0.12   2.4.17 x", 0, 1, "1.0.12   2.4.17"},
      {"[0-9]+", "Module 12: x", ML, 1, "12"},
      {"\\*", "**", ML, 1, "*"},
      {"a|b", "xa|b", 0, 1, "a|b"},
      {"\\d+", "ab123c", 0, 1, "123"},
      {"\\d", "d", 0, 0, ""},
      {"x\\s\\S", "x y", 0, 1, "x y"},
  });
}

TEST(SregexMatch, NormalisesTheSubjectInNonZeroModes) {
  expect_matches({
      // Escapes in the subject are dropped, line ends folded, in any non-zero mode.
      {"ab", "a\\b", ML, 1, "a\\b"},
      {"ab", "a\\b", 0, 0, ""},
      {"a\nb", "a\r\nb", ML, 1, "a\r\nb"},
      {"a\nb", "a\n\rb", ML, 1, "a\n\rb"},
      {"a\r\nb", "a\nb", 0, 1, "a\nb"},
      {"ABC", "x\\aBc", IC, 1, "\\aBc"},
      {"\\\\", "\\\\", ML, 1, "\\\\"},
      {"\\\\", "a\\b", ML, 0, ""},
      {"\r", "a\r\n", ML, 0, ""},
      {"\r", "a\rb", ML, 1, "\r"},
  });
}

TEST(SregexMatch, CopiesAtMostTheBufferAndValidatesArguments) {
  char out[3] = "xx";
  EXPECT_EQ(sregex_match("b.*", "abcdef", 0, out, sizeof out), SREGEX_MATCH);
  EXPECT_STREQ(out, "bc");
  char untouched[4] = "abc";
  EXPECT_EQ(sregex_match("b", "abc", 0, untouched, 0), SREGEX_MATCH);
  EXPECT_STREQ(untouched, "abc");
  EXPECT_EQ(sregex_match("b", "abc", 0, nullptr, 10), SREGEX_MATCH);

  struct Case {
    const char* pattern;
    const char* text;
    unsigned mode;
    int result;
  } cases[] = {
      {"", "abc", 0, SREGEX_ERR_NOPATTERN}, {nullptr, "abc", 0, SREGEX_ERR_NOPATTERN},
      {"a", "", 0, SREGEX_ERR_NOTEXT},      {"a", nullptr, 0, SREGEX_ERR_NOTEXT},
      {"", "", 4, SREGEX_ERR_NOPATTERN},    {"a", "", 4, SREGEX_ERR_NOTEXT},
      {"a", "abc", 4, SREGEX_ERR_MODE},     {"a", "abc", 8, SREGEX_ERR_MODE},
      {"A", "abc", 3, SREGEX_MATCH},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sregex_match(c.pattern, c.text, c.mode, nullptr, 0), c.result) << (c.pattern ? c.pattern : "(null)");
  }
}

TEST(SregexMatch, ReportsPatternErrorsOnlyWhenReached) {
  const std::string tooLong(600, 'a');
  struct Case {
    std::string pattern;
    const char* text;
    int result;
  } cases[] = {
      {"ab)", "zzz", SREGEX_ERR_PARENS},      // the first token fails at once
      {"x(", "zzz", SREGEX_NOMATCH},          // "x" never matches: "(" is never met
      {"x(", "zxz", SREGEX_ERR_PARENS},       // "x" matches, then "(" fails
      {"x[z-a]", "x", SREGEX_ERR_RANGE},      // a class fails when it is tested
      {"y[z-a]", "x", SREGEX_NOMATCH},
      {"a*)", "b", SREGEX_ERR_PARENS},        // behind a repetition, first try: error returned
      {"q*x?y?(", "qqq", SREGEX_ERR_PARENS},
      {tooLong, "a", SREGEX_ERR_SIZE},        // the first token does not fit its buffer
      {"(a)" + std::string(300, 'b'), "a", SREGEX_ERR_SIZE},  // nor does this remainder
      {"(ab)", "zzz", SREGEX_NOMATCH},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sregex_match(c.pattern.c_str(), c.text, 0, nullptr, 0), c.result) << c.pattern << " in " << c.text;
  }
}

TEST(SregexStep, ReportsIterationsAndLastIteration) {
  struct Case {
    const char* pattern;
    const char* text;
    long pos;
    bool lineStart;
    int result;
    long last, count, length;
  } cases[] = {
      {"a*", "aaab", 0, false, 1, 2, 3, 3},
      {"a*", "baaa", 0, false, 1, 0, 0, 0},
      {"a+", "baaa", 0, false, 0, 0, 0, 0},
      {"a?", "aaab", 0, false, 1, 0, 1, 1},
      {".*", "abc", 1, false, 1, 1, 2, 2},
      {"(ab)*", "ababx", 0, false, 1, 2, 2, 4},
      {"abc", "xabc", 1, false, 1, 0, 1, 3},
      {"^", "abc", 0, true, 1, 0, 1, 0},
      {"^", "abc", 0, false, 0, 0, 0, 0},
      {"$", "abc", 3, false, 1, 0, 1, 0},
      {".", "abc", 3, false, 1, 0, 1, 1},   // "." takes the terminator
      {"a*", "abc", 4, false, 0, 0, 0, 0},  // nothing matches past the terminator
      {"", "abc", 0, false, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    MatchInfo info;
    EXPECT_EQ(match_here(c.pattern, c.text, c.pos, 0, c.lineStart, &info), c.result) << c.pattern << " at " << c.pos;
    if (c.result != SREGEX_MATCH) continue;
    EXPECT_EQ(info.start, 0);
    EXPECT_EQ(info.last, c.last) << c.pattern;
    EXPECT_EQ(info.count, c.count) << c.pattern;
    EXPECT_EQ(info.length, c.length) << c.pattern;
  }
  EXPECT_TRUE(can_backtrack(ZERO_MORE, 1, 0));
  EXPECT_FALSE(can_backtrack(ZERO_MORE, 0, 0));
  EXPECT_FALSE(can_backtrack(ONE_MORE, 1, 0));
  EXPECT_TRUE(can_backtrack(ONE_MORE, 2, 3));
  EXPECT_FALSE(can_backtrack(ZERO_ONE, 1, -1));
  EXPECT_FALSE(can_backtrack(CHARSEQ, 5, 1));
}

TEST(SregexText, NamesCodesTypesAndEscapesText) {
  EXPECT_STREQ(sregex_error_text(SREGEX_MATCH), "Match/Success");
  EXPECT_STREQ(sregex_error_text(SREGEX_ERR_SIZE), "ERROR: Regular Expression size too big");
  EXPECT_STREQ(sregex_error_text(SREGEX_ERR_MODE), "ERROR: Bad mode value");
  EXPECT_STREQ(sregex_error_text(5), "UNKNOWN SYNTAX ERROR (5)");
  EXPECT_STREQ(node_type_name(GROUP), "GROUP");
  EXPECT_STREQ(node_type_name(9), "UNKNOWN TYPE (9)");
  EXPECT_STREQ(sregex_printable(nullptr), "(NULL)");
  EXPECT_STREQ(sregex_printable("a\\b\r\n\t\x01\xff"), "a\\\\b\\r\\n\\t\\x1\\xff");
  EXPECT_EQ(std::strlen(sregex_printable(std::string(3000, 'x').c_str())), 1995u);
  std::string seen;
  std::thread([&] { seen = sregex_error_text(77); }).join();
  EXPECT_EQ(seen, "UNKNOWN SYNTAX ERROR (77)");
  EXPECT_STREQ(sregex_error_text(5), "UNKNOWN SYNTAX ERROR (5)");  // this thread's buffer kept its text

  struct Pred {
    int c;
    bool special, repetition, classEscape;
    int rep;
  } preds[] = {
      {'$', true, false, false, NONE}, {'-', true, false, false, NONE}, {'*', true, true, false, ZERO_MORE},
      {'?', true, true, false, ZERO_ONE}, {'+', true, true, false, ONE_MORE}, {'|', false, false, false, NONE},
      {'d', false, false, true, NONE}, {'A', false, false, true, NONE}, {'a', false, false, false, NONE},
  };
  for (const Pred& p : preds) {
    EXPECT_EQ(isSpecial(p.c), p.special) << char(p.c);
    EXPECT_EQ(isRepetition(p.c), p.repetition) << char(p.c);
    EXPECT_EQ(isClassEscape(p.c), p.classEscape) << char(p.c);
    EXPECT_EQ(repetition_type(p.c), p.rep) << char(p.c);
  }
  testing::internal::CaptureStdout();
  EXPECT_EQ(testsplit(), 1);
  EXPECT_EQ(testmatch(), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "testsplit() was ifdef'd out - cannot run tests!\ntestmatch() was ifdef'd out - cannot run tests!\n");
}

TEST(SregexSpeed, LongConsoleLinesStayCheap) {
  // Repeated start positions and give-backs on a 9999-character line are
  // quadratic or worse when done step by step; these must stay well below
  // a millisecond each (the bound is generous for sanitizer builds).
  std::string line;
  while (line.size() < 9999) line += "block 4711 written to flash bank two; status normal ";
  line.resize(9999);
  const char* patterns[] = {".*Firewall.*", "[\\S]+-mz[g]?\\.[\\S]+\\.bin(\\.[\\w]+)?", "Another .* in progress",
                            ".*\\(Invalid.*hostname\\)", ".*:.*> ", "^[\\s]*#+", "[\\S]*/[\\S]*"};
  const auto start = std::chrono::steady_clock::now();
  for (const char* p : patterns) {
    EXPECT_EQ(sregex_match(p, line.c_str(), ML, nullptr, 0), SREGEX_NOMATCH) << p;
  }
  const std::string tail = line + " Firewall";
  EXPECT_EQ(sregex_match(".*Firewall.*", tail.c_str(), ML, nullptr, 0), SREGEX_MATCH);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 200);
}

// --- Literal patterns -------------------------------------------------------------------------

TEST(LiteralPattern, MatchesExactlyItsTextForEverySpecialCharacter) {
  for (const char c : std::string("$()*+-.?[\\]^|{}#>")) {
    const std::string text = std::string("us") + c + "er> ";
    SCOPED_TRACE(text);
    char pattern[64];
    ASSERT_TRUE(sregex_literal(text.data(), text.size(), pattern, sizeof pattern));
    char matched[64];
    EXPECT_EQ(sregex_match(pattern, ("login ok\r\n" + text).c_str(), 0, matched, sizeof matched), SREGEX_MATCH);
    EXPECT_EQ(std::string(matched), text);
    for (const std::string& other : {std::string("usxer> "), std::string("user> "), std::string("us") + c + c + "er> "}) {
      if (other == text) continue;
      EXPECT_EQ(sregex_match(pattern, other.c_str(), 0, nullptr, 0), SREGEX_NOMATCH) << other;
    }
  }
}

TEST(LiteralPattern, RefusesWhatDoesNotFitItsBufferOrOnePatternToken) {
  const struct {
    std::string text;
    std::size_t size;
    bool ok;
  } rows[] = {
      {"admin", 6, true},           {"admin", 5, false},
      {"a.b", 5, true},             {"a.b", 4, false},
      {std::string(127, '.'), 300, true},  // 254 characters: one token
      {std::string(128, '.'), 300, false},
      {std::string(255, 'a'), 300, true},  {std::string(256, 'a'), 300, false},
      {"", 1, true},
  };
  for (const auto& r : rows) {
    std::vector<char> out(r.size, 'x');
    EXPECT_EQ(sregex_literal(r.text.data(), r.text.size(), out.data(), out.size()), r.ok) << r.text.size() << "/" << r.size;
    if (!r.ok) {
      EXPECT_STREQ(out.data(), "");
    }
  }
}

}  // namespace
