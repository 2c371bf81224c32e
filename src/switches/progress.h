// The progress of one update as its caller may follow it: the stages the
// frame enters, the progress the switch's console prints, and the outcome.
// Whoever calls a module hands it a ProgressSink in the request; the module
// tells it every event on the calling thread, in order, the outcome last.
#pragma once

#include <cstdint>
#include <string_view>

namespace modburn {

// What an event tells.
enum class ProgressKind : std::uint8_t {
  Stage,    // the update entered a stage: connect, logConfigInfo, update, reboot, disconnect
  Line,     // the console printed a line that shows the update going on
  Percent,  // the console printed a percentage (value: as printed)
  Bytes,    // the console printed a byte count
  Marks,    // the console printed progress marks (value: how many so far in this step)
  Outcome,  // the call ended (value: its result, 0 or a negative IoStatus); always the last event
};

// The kind's name as the Java listener is told it: "stage", "line", "percent",
// "bytes", "marks", "outcome".
const char* progress_kind_name(ProgressKind kind);

struct ProgressEvent {
  // The stage entered (Stage), the stage the update is in, or, for the
  // outcome, the last stage it worked in (disconnect aside; "" when the
  // request was refused before connecting).
  const char* stage;
  ProgressKind kind;
  long long value;  // -1 where the kind carries none
  // The console's line (escaped, secrets masked, at most 199 characters),
  // the outcome's result text, or "" for a stage; never null.
  const char* text;
};

// Told the events of one module call, on the thread that runs it.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void report(const ProgressEvent& event) = 0;
};

// How a dialogue row reads the progress a console line shows.
enum class Measure : std::uint8_t {
  None,     // a plain sign of life
  Percent,  // the number before a '%' ("50%", "50 %"), the first that has one; on a line without '%', its last number
  Bytes,    // the number before "bytes", the first that has one; on a line without "bytes", its last number
  Marks,    // how often the row's mark character stands on the line
};

// The number a Percent or Bytes line shows, or -1 when it shows none (a
// number too long to hold counts as none).
long long progress_number(Measure measure, std::string_view line);

// How often mark stands on the line.
long long count_marks(std::string_view line, char mark);

}  // namespace modburn
