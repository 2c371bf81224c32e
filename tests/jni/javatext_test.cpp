#include "jni/javatext.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(JavaText, DecodesUtf8AndKeepsStrayBytesAsLatin1) {
  const struct {
    const char* name;
    std::string bytes;
    std::u16string text;
  } rows[] = {
      {"ascii", "update failed: -99\n", u"update failed: -99\n"},
      {"empty", "", u""},
      {"two-byte", "caf\xC3\xA9", u"caf\u00E9"},
      {"three-byte", "\xE2\x82\xAC 5", u"\u20AC 5"},
      {"four-byte becomes a surrogate pair", "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
      {"Java's own surrogates", "\xED\xA0\xBD\xED\xB8\x80", u"\xD83D\xDE00"},
      {"Java's own NUL", std::string("a\xC0\x80z", 4), std::u16string(u"a\0z", 3)},
      {"lone high byte", "x\xFFy", u"x\u00FFy"},
      {"stray continuation", "\x80", u"\u0080"},
      {"cut sequence at the end", "ok\xE2\x82", u"ok\u00E2\u0082"},
      {"bad continuation", "\xC3(", u"\u00C3("},
      {"overlong", "\xC1\x81", u"\u00C1\u0081"},
      {"beyond the last code point", "\xF4\x90\x80\x80", u"\u00F4\u0090\u0080\u0080"},
      {"not a lead byte", "\xF8\x88", u"\u00F8\u0088"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(modburn::java_text(row.bytes), row.text) << row.name;
  }
}

}  // namespace
