#include "switches/progress.h"

#include <algorithm>
#include <cstddef>

namespace modburn {
namespace {

// More digits than a long long holds for sure: not a count a console prints.
constexpr std::size_t kMaxDigits = 18;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The number whose digits end right before end, or -1 when none does.
long long numberEndingAt(std::string_view line, std::size_t end) {
  std::size_t begin = end;
  while (begin > 0 && isDigit(line[begin - 1])) --begin;
  if (begin == end || end - begin > kMaxDigits) return -1;
  long long value = 0;
  for (std::size_t i = begin; i < end; ++i) value = value * 10 + (line[i] - '0');
  return value;
}

// The number that stands before an occurrence of unit (blanks between), the
// first such occurrence that has one; -1 when none has.
long long numberBefore(std::string_view line, std::string_view unit) {
  for (std::size_t at = line.find(unit); at != std::string_view::npos; at = line.find(unit, at + 1)) {
    std::size_t end = at;
    while (end > 0 && line[end - 1] == ' ') --end;
    if (const long long v = numberEndingAt(line, end); v >= 0) return v;
  }
  return -1;
}

// The last number on the line, or -1.
long long lastNumber(std::string_view line) {
  const auto digit = std::find_if(line.rbegin(), line.rend(), isDigit);
  if (digit == line.rend()) return -1;
  return numberEndingAt(line, static_cast<std::size_t>(line.rend() - digit));
}

}  // namespace

const char* progress_kind_name(ProgressKind kind) {
  switch (kind) {
    case ProgressKind::Stage: return "stage";
    case ProgressKind::Line: return "line";
    case ProgressKind::Percent: return "percent";
    case ProgressKind::Bytes: return "bytes";
    case ProgressKind::Marks: return "marks";
    case ProgressKind::Outcome: return "outcome";
  }
  return "line";
}

long long progress_number(Measure measure, std::string_view line) {
  std::string_view unit;
  if (measure == Measure::Percent) unit = "%";
  if (measure == Measure::Bytes) unit = "bytes";
  if (unit.empty()) return -1;
  if (line.find(unit) != std::string_view::npos) return numberBefore(line, unit);
  return lastNumber(line);
}

long long count_marks(std::string_view line, char mark) {
  return static_cast<long long>(std::count(line.begin(), line.end(), mark));
}

}  // namespace modburn
