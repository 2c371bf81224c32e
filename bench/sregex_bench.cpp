// The pattern engine beside std::regex (ECMAScript), POSIX regcomp/regexec
// and RE2, on every module pattern against
//   (a) typical console lines of 40 to 120 characters,
//   (b) 9999-character lines that match nothing,
//   (c) 9999-character lines whose match is at their end.
// Each benchmark runs one engine over the whole case once per iteration. The
// other engines get their patterns compiled ahead (as their users would);
// the engine under test is called as the library calls it, with the pattern
// text. Before timing, every engine's match/no-match is checked against the
// others over the whole corpus; pairs where they disagree are reported and
// left out. The slowest single patterns of the engine on (b) and (c) are
// printed first.
#include "com/sregex.h"

#include "support/sregex_corpus.h"

#include <benchmark/benchmark.h>
#include <pthread.h>
#include <re2/re2.h>
#include <regex.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kLongLine = 9999;

bool set_escape(char c) { return std::strchr("dDsSwW", c) != nullptr && c != '\0'; }

// The same pattern for the other engines. Outside brackets the syntaxes
// agree except that "|", "{" and "}" are ordinary characters here; inside
// brackets POSIX needs its named classes and takes a backslash literally.
std::string translate(const std::string& p, bool posix) {
  std::string out;
  for (std::size_t i = 0; i < p.size(); ++i) {
    const char c = p[i];
    if (c == '\\' && i + 1 < p.size()) {
      const char n = p[++i];
      if (std::isalnum(static_cast<unsigned char>(n)) && !set_escape(n)) {
        out += n;
      } else {
        out += '\\';
        out += n;
      }
    } else if (c == '[') {
      std::size_t j = i + 1;
      std::string items;
      bool negatedSpace = false;
      while (j < p.size() && p[j] != ']') {
        if (p[j] == '\\' && j + 1 < p.size()) {
          const char n = p[j + 1];
          if (!posix) {
            items += p.substr(j, 2);
          } else if (n == 'S') {
            negatedSpace = true;
          } else if (n == 'd') {
            items += "[:digit:]";
          } else if (n == 's') {
            items += "[:space:]";
          } else if (n == 'w') {
            items += "[:alnum:]_";
          } else {
            items += n;
          }
          j += 2;
        } else {
          items += p[j++];
        }
      }
      // "[\S]" and "[\S-]" are the only bracketed \S forms the modules use.
      out += negatedSpace ? "[^[:space:]]" : "[" + items + "]";
      i = j;
    } else if (c == '|' || c == '{' || c == '}') {
      out += '\\';
      out += c;
    } else {
      out += c;
    }
  }
  return out;
}

struct Item {
  std::string pattern;
  unsigned mode;
  std::unique_ptr<std::regex> ecma;
  std::unique_ptr<regex_t, void (*)(regex_t*)> posix{nullptr, [](regex_t* r) {
                                                         regfree(r);
                                                         delete r;
                                                       }};
  std::unique_ptr<RE2> re2;
  std::string noMatchLine;  // (b)
  std::string endMatchLine;  // (c)
};

bool sregex_hit(const Item& it, const std::string& text) {
  return sregex_match(it.pattern.c_str(), text.c_str(), it.mode, nullptr, 0) == SREGEX_MATCH;
}
bool ecma_hit(const Item& it, const std::string& text) { return std::regex_search(text, *it.ecma); }
bool posix_hit(const Item& it, const std::string& text) {
  return regexec(it.posix.get(), text.c_str(), 0, nullptr, 0) == 0;
}
bool re2_hit(const Item& it, const std::string& text) { return RE2::PartialMatch(text, *it.re2); }

using Engine = bool (*)(const Item&, const std::string&);
struct NamedEngine {
  const char* name;
  Engine run;
};
const NamedEngine kEngines[] = {
    {"sregex", sregex_hit}, {"std_regex", ecma_hit}, {"regexec", posix_hit}, {"re2", re2_hit}};

bool compile(Item& it) {
  const bool icase = (it.mode & SREGEX_ICASE) != 0;
  const bool multiline = (it.mode & SREGEX_MULTILINE) != 0;
  try {
    auto flags = std::regex::ECMAScript | std::regex::optimize | std::regex::nosubs;
    if (icase) flags |= std::regex::icase;
    if (multiline) flags |= std::regex::multiline;
    it.ecma = std::make_unique<std::regex>(translate(it.pattern, false), flags);
  } catch (const std::regex_error& e) {
    std::fprintf(stderr, "std::regex rejects %s: %s\n", it.pattern.c_str(), e.what());
    return false;
  }
  it.posix.reset(new regex_t);
  int cflags = REG_EXTENDED | REG_NOSUB;
  if (icase) cflags |= REG_ICASE;
  if (multiline) cflags |= REG_NEWLINE;
  if (regcomp(it.posix.get(), translate(it.pattern, true).c_str(), cflags) != 0) {
    std::fprintf(stderr, "regcomp rejects %s\n", it.pattern.c_str());
    delete it.posix.release();
    return false;
  }
  RE2::Options options;
  options.set_case_sensitive(!icase);
  options.set_log_errors(false);
  it.re2 = std::make_unique<RE2>((multiline ? "(?m)" : "") + translate(it.pattern, false), options);
  if (!it.re2->ok()) {
    std::fprintf(stderr, "RE2 rejects %s\n", it.pattern.c_str());
    return false;
  }
  return true;
}

std::string repeat_to(const std::string& unit, std::size_t length) {
  std::string s;
  while (s.size() < length) s += unit;
  s.resize(length);
  return s;
}

// Fillers for lines that must not match, tried in order per pattern.
const std::vector<std::string>& fillers() {
  static const std::vector<std::string> f = {
      repeat_to("data block 4711 written to store two, status normal; retry count 0 of 8, queue empty, link up ",
                kLongLine),
      repeat_to("data block written to store two status normal retry count queue empty link up ", kLongLine),
      std::string(kLongLine, ' '),
  };
  return f;
}

struct Corpus {
  std::vector<Item> items;
  std::vector<std::string> lines;                    // (a)
  std::vector<std::vector<bool>> skipLine;           // item x line: engines disagree
  std::size_t aCalls = 0;
};

Corpus& corpus() {
  static Corpus c;
  return c;
}

bool all_agree(const Item& it, const std::string& text, bool& result) {
  result = kEngines[0].run(it, text);
  for (const NamedEngine& e : kEngines) {
    if (e.run(it, text) != result) return false;
  }
  return true;
}

void prepare() {
  Corpus& c = corpus();
  c.lines = sregex_corpus::console_lines();
  int excluded = 0;
  for (const auto& mp : sregex_corpus::module_patterns()) {
    Item it;
    it.pattern = mp.pattern;
    it.mode = mp.mode;
    if (!compile(it)) {
      ++excluded;
      continue;
    }
    bool match = false;
    for (const std::string& f : fillers()) {
      if (all_agree(it, f, match) && !match) {
        it.noMatchLine = f;
        break;
      }
    }
    const std::string sample = sregex_corpus::sample_match(mp.pattern);
    const bool anchored = mp.pattern[0] == '^';
    const std::string lead = anchored ? "\n" : "";
    if (it.noMatchLine.empty() || kLongLine < sample.size() + lead.size()) {
      std::fprintf(stderr, "no 9999-character line without a match for %s\n", mp.pattern);
      ++excluded;
      continue;
    }
    it.endMatchLine = it.noMatchLine.substr(0, kLongLine - sample.size() - lead.size()) + lead + sample;
    if (!all_agree(it, it.endMatchLine, match) || !match) {
      std::fprintf(stderr, "engines disagree on the line ending in a match for %s\n", mp.pattern);
      ++excluded;
      continue;
    }
    c.items.push_back(std::move(it));
  }
  int disagreements = 0;
  int matches = 0;
  for (const Item& it : c.items) {
    std::vector<bool> skip;
    for (const std::string& line : c.lines) {
      bool match = false;
      const bool agree = all_agree(it, line, match);
      skip.push_back(!agree);
      if (!agree) {
        ++disagreements;
        std::fprintf(stderr, "engines disagree: %s on \"%s\"\n", it.pattern.c_str(), line.c_str());
      } else {
        ++c.aCalls;
        matches += match ? 1 : 0;
      }
    }
    c.skipLine.push_back(std::move(skip));
  }
  std::size_t shortest = 1000, longest = 0;
  for (const std::string& line : c.lines) {
    shortest = std::min(shortest, line.size());
    longest = std::max(longest, line.size());
  }
  std::printf("corpus: %zu patterns (%d left out); (a) %zu lines of %zu-%zu characters, %zu pattern-line pairs "
              "(%d matching, %d left out where engines disagree); (b), (c) one 9999-character line per pattern\n",
              c.items.size(), excluded, c.lines.size(), shortest, longest, c.aCalls, matches, disagreements);
}

// The engine's slowest patterns on the long lines: median of 21 calls each.
void report_slowest() {
  struct Timing {
    double micros;
    const Item* item;
  };
  for (int which = 0; which < 2; ++which) {
    std::vector<Timing> timings;
    for (const Item& it : corpus().items) {
      const std::string& line = which == 0 ? it.noMatchLine : it.endMatchLine;
      std::vector<double> runs;
      for (int r = 0; r < 21; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(sregex_hit(it, line));
        const auto t1 = std::chrono::steady_clock::now();
        runs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
      }
      std::nth_element(runs.begin(), runs.begin() + 10, runs.end());
      timings.push_back({runs[10], &it});
    }
    std::sort(timings.begin(), timings.end(), [](const Timing& a, const Timing& b) { return a.micros > b.micros; });
    std::printf("sregex slowest on (%c):", which == 0 ? 'b' : 'c');
    for (std::size_t i = 0; i < 5 && i < timings.size(); ++i) {
      std::printf(" \"%s\" %.1f us;", sregex_printable(timings[i].item->pattern.c_str()), timings[i].micros);
    }
    std::printf("\n");
  }
}

void run_case(benchmark::State& state, Engine engine, char which) {
  Corpus& c = corpus();
  std::size_t calls = 0;
  for (auto _ : state) {
    calls = 0;
    for (std::size_t i = 0; i < c.items.size(); ++i) {
      const Item& it = c.items[i];
      if (which == 'a') {
        for (std::size_t l = 0; l < c.lines.size(); ++l) {
          if (c.skipLine[i][l]) continue;
          benchmark::DoNotOptimize(engine(it, c.lines[l]));
          ++calls;
        }
      } else {
        benchmark::DoNotOptimize(engine(it, which == 'b' ? it.noMatchLine : it.endMatchLine));
        ++calls;
      }
    }
  }
  state.counters["calls"] = static_cast<double>(calls);
  state.counters["per_call"] = benchmark::Counter(static_cast<double>(calls) * static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void* bench_main(void*) {
  prepare();
  report_slowest();
  for (char which : {'a', 'b', 'c'}) {
    for (const NamedEngine& e : kEngines) {
      const std::string name = std::string("case_") + which + "/" + e.name;
      benchmark::RegisterBenchmark(name.c_str(), run_case, e.run, which)->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // std::regex recurses per character on long lines: give it room.
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, std::size_t{1} << 30);
  pthread_t thread;
  if (pthread_create(&thread, &attr, bench_main, nullptr) != 0) return 1;
  pthread_join(thread, nullptr);
  benchmark::Shutdown();
  return 0;
}
