// Patterns the switch modules match console output with, and typical console
// lines, for the pattern engine's tests and benchmark.
#pragma once

#include <string>
#include <vector>

namespace sregex_corpus {

struct ModulePattern {
  const char* module;  // module family
  const char* array;   // expect array (or the place a module matches directly)
  const char* pattern;
  unsigned mode;       // SREGEX_MULTILINE for expect arrays, as the expect loop calls it
};

// Every pattern of every module's expect arrays and direct matches, duplicates
// (the same pattern and mode) removed.
const std::vector<ModulePattern>& module_patterns();

// Typical console lines of 40 to 120 characters, without backslashes or CR.
const std::vector<std::string>& console_lines();

// A short text the pattern matches (built from its tokens: the literal runs,
// one member of each class, one iteration of "+", none of "*" and "?").
// Patterns anchored with "^" get no special treatment here.
std::string sample_match(const char* pattern);

}  // namespace sregex_corpus
