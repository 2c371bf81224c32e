// A log sink for tests: collects every entry it receives, in order.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// The sink function itself (a LogSink); entries go to the capture store.
void capture_sink(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Empties the store.
void capture_clear();
// Copy of every entry received since the last clear.
std::vector<std::string> capture_entries();
// All entries run together.
std::string capture_text();
// Number of entries that contain needle.
int capture_count(const std::string& needle);

}  // namespace testsupport
