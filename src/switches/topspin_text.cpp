#include "switches/topspin_text.h"

#include <cstring>

#include "com/sregex.h"

namespace modburn::topspin {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool endsAtPrompt(std::string_view text, std::string_view prompt) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  return text.size() >= prompt.size() && text.substr(text.size() - prompt.size()) == prompt;
}

std::string_view firstWord(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && !isBlank(text[n])) ++n;
  return text.substr(0, n);
}

bool copyWhole(std::string_view text, Name& out) {
  out[0] = '\0';
  if (text.size() >= out.size()) return false;
  std::memcpy(out.data(), text.data(), text.size());
  out[text.size()] = '\0';
  return true;
}

std::string_view primaryImage(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return {};
  std::size_t start = colon + 1;
  while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
  return firstWord(line.substr(start));
}

int expectedImage(const char* filename, char* out, std::size_t size) {
  out[0] = '\0';
  const int rc = sregex_match("TopspinOS-.*-build[\\d]+\\.img", filename, 0, out, size);
  if (rc != SREGEX_MATCH) {
    out[0] = '\0';
    return rc;
  }
  if (char* dot = std::strrchr(out, '.')) *dot = '\0';
  if (char* dash = std::strrchr(out, '-')) *dash = '/';
  return rc;
}

}  // namespace modburn::topspin
