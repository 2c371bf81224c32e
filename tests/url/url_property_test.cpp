// Properties over generated URLs: getters stay inside their buffers, and the
// masked form never shows a password character.
#include "url/url.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

namespace {

// A generated URL and where its password stands (length 0: none).
struct Generated {
  std::string url;
  std::size_t pwFrom = 0;
  std::size_t pwLen = 0;
  bool hasPathSlash = false;
};

class UrlGenerator {
 public:
  explicit UrlGenerator(unsigned seed) : rng_(seed) {}

  // scheme "://" [login [":" password] "@"] host [":" port] ["/" path-and-more | tail]
  // Logins, hosts and ports hold no '@' and no '/', so the password is exactly
  // the text between the authority's first ':' and its last '@'. Passwords
  // hold '@', ':', brackets and other separators, and run past 511 characters
  // at times; hosts are well formed or not (brackets, empty, ...).
  Generated next() {
    static const char* const schemes[] = {"ftp", "tftp", "FTP", "http", "rcp", "Ftp", ""};
    static const char* const hosts[] = {"host", "10.0.0.1", "[fe80::1]", "[fe80::1", "fe80::1]", "", "h[x]", "[]"};
    Generated g;
    g.url = pick(schemes) + std::string("://");
    int userinfo = below(10);
    if (userinfo < 7) {
      g.url += text("abcxyz.-_", below(9)) + ":";
      g.pwFrom = g.url.size();
      std::size_t len = 1 + (below(8) == 0 ? below(700) : below(12));
      g.url += text("ABCDEFGHIJKLMNOPQRSTUVWXYZ", 1) + text("ABCDEFGHIJKLMNOPQRSTUVWXYZ@:[]!#?;=%", len - 1);
      g.pwLen = len;
      g.url += "@";
    } else if (userinfo < 8) {
      g.url += text("abcxyz", 1 + below(5)) + "@";
    }
    g.url += pick(hosts);
    if (below(3) == 0) g.url += ":" + text("0123456789ab", below(4));
    g.hasPathSlash = below(7) != 0;
    std::size_t len = below(10) == 0 ? below(700) : below(20);
    g.url += g.hasPathSlash ? "/" + text("abcdef/;.:@?#[]", len) : text("abc?#;:@[]", len);
    return g;
  }

  // A short string of URL separators, for inputs that are rarely URLs.
  std::string junk() { return text(":/@[]?#;aZ", below(40)); }

  std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

 private:
  template <std::size_t N>
  const char* pick(const char* const (&options)[N]) {
    return options[below(N)];
  }
  std::string text(const char* alphabet, std::size_t len) {
    std::string out(len, ' ');
    std::size_t n = std::strlen(alphabet);
    for (char& c : out) c = alphabet[below(n)];
    return out;
  }
  std::mt19937 rng_;
};

constexpr std::size_t kGuard = 16;
constexpr unsigned char kGuardByte = 0xA5;
constexpr unsigned char kFillByte = 0x5A;

// A buffer of `size` bytes with guard bytes on both sides.
struct GuardedBuffer {
  explicit GuardedBuffer(std::size_t size) : size(size), bytes(size + 2 * kGuard, kGuardByte) {
    std::fill_n(data(), size, kFillByte);
  }
  char* data() { return reinterpret_cast<char*>(bytes.data()) + kGuard; }
  bool guardsIntact() const {
    auto intact = [](auto first, auto last) {
      return std::all_of(first, last, [](unsigned char b) { return b == kGuardByte; });
    };
    return intact(bytes.begin(), bytes.begin() + kGuard) && intact(bytes.end() - kGuard, bytes.end());
  }
  bool untouched() { return std::all_of(data(), data() + size, [](char c) { return c == char(kFillByte); }); }
  std::size_t size;
  std::basic_string<unsigned char> bytes;
};

using Getter = int (*)(const char*, char*, std::size_t);
const Getter kGetters[] = {url_get_scheme,   url_get_authority, url_get_path,     url_get_query,
                           url_get_fragment, url_get_server,    url_get_port,     url_get_login,
                           url_get_password, url_get_directory, url_get_filename, url_get_modifier};

// For every getter and buffer size: nothing is written outside the buffer;
// on success the buffer is terminated and holds the unbounded result cut to
// size - 1; on failure it is untouched and the code does not depend on size.
TEST(UrlProperty, GettersStayInsideTerminatedBuffers) {
  UrlGenerator gen(20240611);
  const std::size_t sizes[] = {1, 2, 3, 7, 64, 511, 512, 513};
  for (int i = 0; i < 1500; ++i) {
    const std::string url = i % 4 == 3 ? gen.junk() : gen.next().url;
    for (std::size_t g = 0; g < std::size(kGetters); ++g) {
      std::string whole(2048, '\0');
      const int wholeRc = kGetters[g](url.c_str(), whole.data(), whole.size());
      whole.resize(std::strlen(whole.c_str()));
      for (std::size_t size : sizes) {
        GuardedBuffer buf(size);
        const int rc = kGetters[g](url.c_str(), buf.data(), size);
        SCOPED_TRACE("getter " + std::to_string(g) + " size " + std::to_string(size) + " url " + url);
        ASSERT_TRUE(buf.guardsIntact());
        ASSERT_EQ(rc, wholeRc);
        if (rc != URL_OK) {
          ASSERT_TRUE(buf.untouched());
          continue;
        }
        ASSERT_NE(std::memchr(buf.data(), '\0', size), nullptr);
        ASSERT_EQ(std::string(buf.data()), whole.substr(0, size - 1));
      }
    }
  }
}

// "Never shows a password character", for a URL whose password stands at a
// known place: (1) every output position inside the password holds '*';
// (2) every other position holds the URL's own character or '*' (nothing is
// moved or invented, so no password character can show up elsewhere);
// (3) the output is the URL's first min(511, size - 1) characters, and for a
// URL with a path exactly those with the password starred. The buffer is
// always terminated, and nothing is written outside it.
TEST(UrlProperty, MaskNeverShowsThePassword) {
  UrlGenerator gen(7);
  int withPassword = 0;
  for (int i = 0; i < 4000; ++i) {
    const Generated g = gen.next();
    const std::size_t size = 1 + gen.below(i % 2 ? 64 : 1100);
    GuardedBuffer buf(size);
    SCOPED_TRACE("size " + std::to_string(size) + " url " + g.url);
    ASSERT_EQ(url_mask_password(g.url.c_str(), buf.data(), size), buf.data());
    ASSERT_TRUE(buf.guardsIntact());
    ASSERT_NE(std::memchr(buf.data(), '\0', size), nullptr);
    const std::string out = buf.data();
    ASSERT_EQ(out.size(), std::min({g.url.size(), std::size_t{511}, size - 1}));
    std::string expected = g.url.substr(0, out.size());
    for (std::size_t k = g.pwFrom; k < std::min(g.pwFrom + g.pwLen, out.size()); ++k) expected[k] = '*';
    for (std::size_t k = 0; k < out.size(); ++k) {
      ASSERT_TRUE(out[k] == expected[k] || out[k] == '*') << "position " << k;
    }
    if (g.hasPathSlash) {
      ASSERT_EQ(out, expected);
    }
    withPassword += g.pwLen > 0;
  }
  EXPECT_GT(withPassword, 2000);
}

}  // namespace
