#include "com/escape.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>

#include "com/secrets.h"

using modburn::escape_text;
using modburn::LineEnds;
using modburn::utf8_cut;

namespace {

TEST(Escape, NoControlCharacterSurvivesButKeptLineEnds) {
  const struct {
    const char* name;
    std::string text;
    std::string escaped;  // LineEnds::Escaped
    std::string kept;     // LineEnds::Kept
  } rows[] = {
      {"the switch's own words", "Login incorrect\r\n", "Login incorrect\\r\\n", "Login incorrect\r\n"},
      {"terminal sequences", "\x1b[2J\x1b]0;pwned\a", "\\x1b[2J\\x1b]0;pwned\\a", "\\x1b[2J\\x1b]0;pwned\\a"},
      {"a bare carriage return", "ok\rFAILED", "ok\\rFAILED", "ok\\rFAILED"},
      {"return, return, line feed", "a\r\r\n", "a\\r\\r\\n", "a\\r\r\n"},
      {"other C0 bytes and DEL", std::string("\0\t\x01\x7f", 4), "\\x0\\t\\x1\\x7f", "\\x0\\t\\x1\\x7f"},
      {"a raw C1 byte", "a\x9b" "31mb", "a\\x9b31mb", "a\\x9b31mb"},
      {"a C1 control in UTF-8", "a\xc2\x9b" "31m\xc2\x85", "a\\xc2\\x9b31m\\xc2\\x85", "a\\xc2\\x9b31m\\xc2\\x85"},
      {"readable UTF-8", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0",
       "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0"},
      {"bytes outside UTF-8", "\xff\xfe\xc0\xaf", "\\xff\\xfe\\xc0\\xaf", "\\xff\\xfe\\xc0\\xaf"},
      {"a surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80", "\\xed\\xa0\\x80"},
      {"beyond the last code point", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80", "\\xf4\\x90\\x80\\x80"},
      {"a sequence cut short", "ab\xe2\x82", "ab\\xe2\\x82", "ab\\xe2\\x82"},
      {"a backslash stays", "C:\\x1b", "C:\\x1b", "C:\\x1b"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(escape_text(row.text, LineEnds::Escaped), row.escaped) << row.name;
    EXPECT_EQ(escape_text(row.text, LineEnds::Kept), row.kept) << row.name;
    EXPECT_EQ(escape_text(row.kept, LineEnds::Kept), row.kept) << row.name << ": escaping twice changes nothing";
  }
}

TEST(Escape, CutsFallBetweenUtf8Sequences) {
  const std::string text = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";  // a, é, €, 😀
  const std::size_t expected[] = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10, 10};
  for (std::size_t n = 0; n < std::size(expected); ++n) EXPECT_EQ(utf8_cut(text, n), expected[n]) << n;
  EXPECT_EQ(utf8_cut("\x80\x80\x80\x80\x80\x80", 5), 5u) << "stray continuation bytes cut anywhere";
}

int formatEntry(char* buf, std::size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
int formatEntry(char* buf, std::size_t size, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  const int n = modburn::format_entry(buf, size, format, ap);
  va_end(ap);
  return n;
}

TEST(Escape, LogEntriesAreMaskedEscapedThenCut) {
  char buf[16];
  EXPECT_EQ(formatEntry(buf, sizeof buf, "got %s\n", "\x1b[2Jok"), 14);
  EXPECT_STREQ(buf, "got \\x1b[2Jok\n");
  // The cut falls inside a UTF-8 sequence: the sequence goes whole.
  EXPECT_EQ(formatEntry(buf, sizeof buf, "%s", "0123456789abcd\xe2\x82\xac"), 17);
  EXPECT_STREQ(buf, "0123456789abcd");
  modburn::SecretScope scope{"Sw1tch-Pw"};
  EXPECT_EQ(formatEntry(buf, sizeof buf, "pw=%s\r\n", "Sw1tch-Pw"), 14);
  EXPECT_STREQ(buf, "pw=*********\r\n");
}

TEST(Escape, LogEntriesAreMaskedBeforeTheyAreCut) {
  modburn::SecretScope scope{"topsecret"};
  char buf[12];
  // The cut falls inside the secret: not even its first characters survive.
  EXPECT_EQ(formatEntry(buf, sizeof buf, "pw=%s!", "topsecret"), 13);
  EXPECT_STREQ(buf, "pw=********");
  EXPECT_EQ(formatEntry(buf, sizeof buf, "%s", "topsecret"), 9);
  EXPECT_STREQ(buf, "*********");
  EXPECT_EQ(formatEntry(buf, sizeof buf, "%d-%s", 42, "ok"), 5);
  EXPECT_STREQ(buf, "42-ok");
  // Pieces of five in front of a cut are masked too, the cut one included.
  modburn::SecretScope pieces{"Ftp-9ass"};
  EXPECT_EQ(formatEntry(buf, sizeof buf, "login:%s@host", "Ftp-9ass"), 19);
  EXPECT_STREQ(buf, "login:*****");
  EXPECT_EQ(formatEntry(buf, sizeof buf, "%s", "9ass@h p-9as"), 12);
  EXPECT_STREQ(buf, "9ass@h ****");
}

}  // namespace
