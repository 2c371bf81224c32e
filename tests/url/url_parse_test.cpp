// Splitting and validation of firmware URLs.
#include "url/url.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A component as text, with absence distinguishable from an empty string.
std::string show(const char* p) { return p != nullptr ? "'" + std::string(p) + "'" : "absent"; }
const char* const X = nullptr;  // an absent component in the tables

struct ParseRow {
  const char* url;
  int rc;
  const char *scheme = X, *query = X, *fragment = X;
  const char *server = X, *port = X, *login = X, *password = X, *directory = X, *filename = X, *modifier = X;
};

TEST(UrlParse, SplitsEveryComponent) {
  const ParseRow rows[] = {
      {"ftp://user:pw@host/dir/file.bin", URL_OK, "ftp", X, X, "host", X, "user", "pw",
       "dir", "file.bin", X},
      {"ftp://[fe80::1]:21/f", URL_OK, "ftp", X, X, "fe80::1", "21", X, X, X, "f", X},
      {"ftp://u@[::1]/a/b/c;type=i", URL_OK, "ftp", X, X, "::1", X, "u", X, "a/b", "c", "type=i"},
      {"ftp://u:p:w@x@h:/d/", URL_OK, "ftp", X, X, "h", "", "u", "p:w@x", "d", "", X},
      {"ftp://u:@h//f", URL_OK, "ftp", X, X, "h", X, "u", "", X, "f", X},
      {"http://h/p#in?q#fr", URL_OK, "http", "q", "fr", "h", X, X, X, X, "p#in", X},
      {"http://h/p?#", URL_OK, "http", "", "", "h", X, X, X, X, "p", X},
      {"http://h/;m", URL_BAD_PATH},
      {"ftp://h/d/;m", URL_OK, "ftp", X, X, "h", X, X, X, "d", X, "m"},
      {"://h/f", URL_OK, "", X, X, "h", X, X, X, X, "f", X},
      {"ftp://host", URL_BAD_SYNTAX},
      {"ftp:/host/f", URL_BAD_SYNTAX},
      {"", URL_BAD_SYNTAX},
      {"ftp://host/", URL_BAD_PATH},
      {"ftp://host//", URL_BAD_PATH},  // no directory and no file name
      {"ftp:///f", URL_BAD_SERVER},
      {"ftp://@host/f", URL_BAD_SERVER},
      {"ftp://user@/f", URL_BAD_SERVER},
      {"ftp://:pw@host/f", URL_BAD_SERVER},
      {"ftp://:21/f", URL_BAD_SERVER},  // empty server
      {"ftp://u@:21/f", URL_BAD_SERVER},
      {"ftp://[]/f", URL_BAD_SERVER},
      {"ftp://[fe80::1/f", URL_BAD_SERVER},
      {"ftp://fe80::1]/f", URL_BAD_SERVER},
      {"ftp://ho[st]/f", URL_BAD_SERVER},       // brackets must enclose the whole server
      {"ftp://[fe80::1]x:21/f", URL_BAD_SERVER},  // nothing but a port behind them
      {"ftp://u@[a[b]]/f", URL_BAD_SERVER},
  };
  for (const ParseRow& r : rows) {
    SCOPED_TRACE(r.url);
    std::string copy = r.url;
    UrlParts p{};
    ASSERT_EQ(url_parse(copy.data(), &p), r.rc);
    if (r.rc != URL_OK) continue;
    EXPECT_EQ(show(p.scheme), show(r.scheme));
    EXPECT_EQ(show(p.query), show(r.query));
    EXPECT_EQ(show(p.fragment), show(r.fragment));
    EXPECT_EQ(show(p.server), show(r.server));
    EXPECT_EQ(show(p.port), show(r.port));
    EXPECT_EQ(show(p.login), show(r.login));
    EXPECT_EQ(show(p.password), show(r.password));
    EXPECT_EQ(show(p.directory), show(r.directory));
    EXPECT_EQ(show(p.filename), show(r.filename));
    EXPECT_EQ(show(p.modifier), show(r.modifier));
  }
}

TEST(UrlParse, SplittersWriteNothingOnFailureAndAcceptNullOutputs) {
  struct Row {
    const char* text;
    int (*split)(char*);
  };
  const Row failing[] = {
      {"ftp:/h/f", [](char* c) { return url_split(c, nullptr, nullptr, nullptr, nullptr, nullptr); }},
      {"u@[h:1", [](char* c) { return url_parse_authority(c, nullptr, nullptr, nullptr, nullptr); }},
      {"/;m", [](char* c) { return url_parse_path(c, nullptr, nullptr, nullptr); }},
  };
  for (const Row& r : failing) {
    std::string copy = r.text;
    EXPECT_LT(r.split(copy.data()), 0) << r.text;
    EXPECT_EQ(copy, r.text) << "a failing splitter cut its input";
  }
  char* sentinel = reinterpret_cast<char*>(&sentinel);
  char* server = sentinel;
  char* port = sentinel;
  EXPECT_EQ(url_parse_authority(nullptr, &server, &port, nullptr, nullptr), URL_BAD_SERVER);
  EXPECT_EQ(server, sentinel);
  std::string authority = "u:pw@h:21";
  EXPECT_EQ(url_parse_authority(authority.data(), &server, &port, nullptr, nullptr), URL_OK);
  EXPECT_STREQ(server, "h");
  EXPECT_STREQ(port, "21");
  EXPECT_EQ(url_parse_path(nullptr, nullptr, nullptr, nullptr), URL_BAD_PATH);
  EXPECT_EQ(url_split(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), URL_BAD_SYNTAX);
  EXPECT_EQ(url_parse(authority.data(), nullptr), URL_BAD_RECEPTACLE);
}

TEST(UrlValidate, JudgesAgainstTheAcceptedSchemes) {
  constexpr unsigned FTP = URL_SCHEME_FTP, TFTP = URL_SCHEME_TFTP, RCP = URL_SCHEME_RCP;
  struct Row {
    const char* url;
    unsigned accepted;
    int rc;
  } const rows[] = {
      {"ftp://user:pw@host/dir/file.bin", FTP, URL_OK},
      {"FTP://user@host/file.bin", FTP, URL_OK},
      {"tftp://host/image", TFTP, URL_OK},
      {"tftp://user@host/image", TFTP, URL_INV_LOGIN},
      {"tftp://u:p@host/image", FTP | TFTP, URL_INV_LOGIN},
      {"rcp://user@host/image", FTP | TFTP | RCP, URL_OK},
      {"rcp://user:pw@host/image", RCP, URL_INV_LOGIN},
      {"http://host/f", FTP | TFTP, URL_INV_SCHEME},
      {"http://u@host/f", URL_SCHEME_HTTP, URL_INV_LOGIN},
      {"tftp://host/image", FTP, URL_INV_SCHEME},
      {"Ftp://host/f", FTP, URL_BAD_SCHEME_SYNTAX},
      {"sftp://host/f", FTP, URL_BAD_SCHEME_SYNTAX},
      {"ftp:", FTP, URL_BAD_SYNTAX},
      {"", FTP, URL_BAD_SYNTAX},
      {nullptr, FTP, URL_BAD_SYNTAX},
      {"ftp://host", FTP, URL_BAD_SYNTAX},
      {"ftp://host/", FTP, URL_BAD_PATH},
      {"ftp:///f", FTP, URL_BAD_SERVER},
      {"ftp://@host/f", FTP, URL_BAD_SERVER},
      {"ftp://host/f?x", FTP, URL_INV_QUERY},
      {"ftp://host/f?", FTP, URL_INV_QUERY},
      {"ftp://host/f#x", FTP, URL_INV_FRAGMENT},
      {"ftp://host/f;type=i", FTP, URL_INV_MODIFIER},
      {"ftp://host/dir/", FTP, URL_OK},
      {"ftp://host/f", FTP, URL_OK},
      {"ftp://host/f\r\nreboot", FTP, URL_BAD_SYNTAX},
      {"ftp://ho\tst/f", FTP, URL_BAD_SYNTAX},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(url_validate(r.url, r.accepted), r.rc) << (r.url ? r.url : "(null)");
  }
}

TEST(UrlValidate, ValidateAsChecksTheSchemeTextAndTheBit) {
  EXPECT_EQ(url_validate_as("ftp:/host/f", URL_SCHEME_FTP), URL_BAD_SYNTAX);
  EXPECT_EQ(url_validate_as("tftp://host/f", URL_SCHEME_FTP), URL_INV_SCHEME);
  EXPECT_EQ(url_validate_as("Ftp://host/f", URL_SCHEME_FTP), URL_INV_SCHEME);
  EXPECT_EQ(url_validate_as("ftp://host/f", 3), URL_BAD_SCHEME_SYNTAX);
  EXPECT_EQ(url_validate_as("ftp://host/f", 0), URL_BAD_SCHEME_SYNTAX);
  EXPECT_EQ(url_validate_as("HTTP://host/f", URL_SCHEME_HTTP), URL_OK);
}

TEST(UrlValidate, JudgesOnlyTheFirst511Characters) {
  const std::string head = "ftp://host/";
  std::string url = head + std::string(511 - head.size(), 'a');
  EXPECT_EQ(url_validate(url.c_str(), URL_SCHEME_FTP), URL_OK);
  EXPECT_EQ(url_validate((url + "?query").c_str(), URL_SCHEME_FTP), URL_OK);
  url.back() = '?';
  EXPECT_EQ(url_validate(url.c_str(), URL_SCHEME_FTP), URL_INV_QUERY);
  std::string longHost = "ftp://" + std::string(600, 'h') + "/f";
  EXPECT_EQ(url_validate(longHost.c_str(), URL_SCHEME_FTP), URL_BAD_SYNTAX);
}

TEST(UrlSchemeType, OnlyAllLowerOrAllUpperCaseCounts) {
  struct Row {
    const char* url;
    unsigned bit;
  } const rows[] = {
      {"ftp://h/f", URL_SCHEME_FTP}, {"FTP:", URL_SCHEME_FTP},     {"tftp://h", URL_SCHEME_TFTP},
      {"TFTP:", URL_SCHEME_TFTP},    {"http:x", URL_SCHEME_HTTP},  {"HTTP:", URL_SCHEME_HTTP},
      {"rcp:", URL_SCHEME_RCP},      {"RCP://h/f", URL_SCHEME_RCP}, {"Ftp://h/f", 0},
      {"ftp", 0},                    {"ftpx://h/f", 0},            {"", 0},
      {nullptr, 0},
  };
  for (const Row& r : rows) EXPECT_EQ(url_scheme_type(r.url), r.bit) << (r.url ? r.url : "(null)");
}

TEST(UrlErrorText, ListedAndUnlistedCodes) {
  EXPECT_STREQ(url_error_text(URL_OK), "SUCCESS");
  EXPECT_STREQ(url_error_text(URL_BAD_MODIFIER), "Bad (FTP/TFTP) file modifier");
  EXPECT_STREQ(url_error_text(URL_INV_LOGIN), "Invalid/inappropriate login/password");
  EXPECT_STREQ(url_error_text(URL_BAD_RECEPTACLE), "Bad receptacle pointer/length");
  EXPECT_STREQ(url_error_text(-14), "Unknown error=-14");
  EXPECT_STREQ(url_error_text(7), "Unknown error=7");
  for (int code = URL_BAD_RECEPTACLE; code <= URL_OK; ++code) {
    EXPECT_STRNE(url_error_text(code), ("Unknown error=" + std::to_string(code)).c_str());
  }
}

}  // namespace
