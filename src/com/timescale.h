// The time seam: protocol time-outs (whole-second waits) and the modules'
// pauses pass through here so that the C++ tests can run long dialogues
// quickly. Production code never changes the factor; it is not reachable
// from Java or from the environment.
#pragma once

namespace modburn {

// Sets the factor applied to time-outs and pauses (1.0 by default; tests use
// e.g. 0.01). Process-wide.
void set_time_scale(double factor);
double time_scale();
// A time-out of the given microseconds, scaled (at least 1 when micros > 0).
long long scaled_micros(long long micros);
// Sleeps for ms milliseconds, scaled.
void sleep_ms(int ms);

// The quiet gap that ends a console line without a line end (a prompt) has
// its own factor (1.0 by default): tests that play hundreds of dialogues
// shorten it; the others keep the real gap. Process-wide.
void set_gap_scale(double factor);
// A line gap of the given microseconds, scaled (at least 1 when micros > 0).
long long scaled_gap_micros(long long micros);

}  // namespace modburn
