// A plain, step-by-step pattern matcher kept beside the library's engine as
// its reference: every step splits the first token off the pattern text again
// (256-byte token and remainder buffers), rebuilds class tables, normalises
// the subject into a 2000-byte buffer, and recurses exactly as the algorithm
// reads. It is slow on purpose and shares no code with the engine; the tests
// run both on the same inputs and any difference is a fault in one of them.
#pragma once

#include <cstddef>

namespace sregex_reference {

struct Info {
  long start = 0;
  long last = 0;
  long count = 0;
  long length = 0;
};

int next_token(const char* pattern, char* token, std::size_t tokenSize, char* rest, std::size_t restSize);
int build_class(const char* token, unsigned char table[128], unsigned mode);
int normalize_literal(const char* src, char* dst, std::size_t size, unsigned mode);
int match_here(const char* pattern, const char* text, long pos, unsigned mode, bool lineStart, Info* info);
int sregex_match(const char* pattern, const char* text, unsigned mode, char* out, std::size_t outSize);

// Limits the steps of the calls that follow on this thread (the reference
// is exponential on some patterns); negative means no limit. Once the limit
// is spent every step fails and budget_spent() is true until the next call
// of set_step_budget: the result of such a call means nothing.
void set_step_budget(long steps);
bool budget_spent();

}  // namespace sregex_reference
