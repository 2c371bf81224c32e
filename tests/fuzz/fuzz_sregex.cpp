// Fuzzes the pattern engine against the plain reference matcher of the tests:
// the input's first byte is the mode (low two bits; bit 7 adds an invalid
// bit; bit 6 repeats the text to 256 characters or more), then the pattern,
// a NUL byte and the text. Any difference in a
// result, a copied match, a step's counts or a split token aborts.
//   build-fuzz/tests/fuzz/fuzz_sregex -dict=tests/fuzz/sregex.dict -max_total_time=600
#include "com/sregex.h"

#include "support/sregex_reference.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

namespace ref = sregex_reference;

// Long enough for every buffer edge of the pattern; texts stay short because
// the reference's steps grow exponentially with repetitions.
constexpr std::size_t kMaxPattern = 600;
constexpr std::size_t kMaxText = 32;
constexpr long kBudget = 30000;
constexpr std::size_t kMaxSteppedText = 16;  // every step compared at every position

[[noreturn]] void differ(const char* what, const std::string& pattern, const std::string& text, unsigned mode,
                         long a, long b) {
  std::fprintf(stderr, "%s differs: engine %ld, reference %ld; mode %u\npattern: %s\n", what, a, b, mode,
               sregex_printable(pattern.c_str()));
  std::fprintf(stderr, "text: %s\n", sregex_printable(text.c_str()));
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  unsigned mode = data[0] & 3u;
  if (data[0] & 0x80u) mode |= 4u;
  const char* body = reinterpret_cast<const char*>(data + 1);
  const std::size_t bodySize = size - 1;
  const void* nul = std::memchr(body, 0, bodySize);
  const std::size_t split = nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - body) : bodySize / 2;
  std::string pattern(body, split);
  std::string text = split < bodySize ? std::string(body + split + 1, bodySize - split - 1) : std::string();
  pattern = pattern.substr(0, kMaxPattern);
  text = text.substr(0, kMaxText);
  text = text.substr(0, std::strlen(text.c_str()));
  if ((data[0] & 0x40u) != 0 && !text.empty()) {
    const std::string unit = text;
    while (text.size() < 256) text += unit;
  }

  char ta[256], ra[256], tb[256], rb[256];
  const int sa = next_token(pattern.c_str(), ta, sizeof ta, ra, sizeof ra);
  const int sb = ref::next_token(pattern.c_str(), tb, sizeof tb, rb, sizeof rb);
  if (sa != sb) differ("next_token", pattern, text, mode, sa, sb);
  if (sa > 0 && (std::strcmp(ta, tb) != 0 || std::strcmp(ra, rb) != 0)) differ("split", pattern, text, mode, 0, 1);

  for (std::size_t outSize : {std::size_t{64}, std::size_t{3}}) {
    char oa[64] = "", ob[64] = "";
    const int a = sregex_match(pattern.c_str(), text.c_str(), mode, oa, outSize);
    ref::set_step_budget(kBudget);
    const int b = ref::sregex_match(pattern.c_str(), text.c_str(), mode, ob, outSize);
    const bool spent = ref::budget_spent();
    ref::set_step_budget(-1);
    if (spent) return 0;
    if (a != b) differ("sregex_match", pattern, text, mode, a, b);
    if (a == SREGEX_MATCH && std::strcmp(oa, ob) != 0) differ("copied match", pattern, text, mode, 0, 1);
  }
  if ((mode & 4u) != 0 || text.size() > kMaxSteppedText) return 0;
  const long len = static_cast<long>(text.size());
  for (long pos = 0; pos <= len + 1; ++pos) {
    for (bool lineStart : {false, true}) {
      MatchInfo a;
      ref::Info b;
      const int x = match_here(pattern.c_str(), text.c_str(), pos, mode, lineStart, &a);
      ref::set_step_budget(kBudget);
      const int y = ref::match_here(pattern.c_str(), text.c_str(), pos, mode, lineStart, &b);
      const bool spent = ref::budget_spent();
      ref::set_step_budget(-1);
      if (spent) return 0;
      if (x != y) differ("match_here", pattern, text, mode, x, y);
      if (x == SREGEX_MATCH && (a.length != b.length || a.count != b.count || a.last != b.last)) {
        differ("match_here counts", pattern, text, mode, a.length * 1000 + a.count, b.length * 1000 + b.count);
      }
    }
  }
  return 0;
}
