// The screen helpers of the Veltra menu console: its screens are painted
// with terminal escape sequences that must never reach a log line or an
// error text, and its form fields are erased and its menus moved through
// with repeated keys.
#pragma once

#include <cstddef>

namespace modburn::veltra {

// Copies src into dst (at most size - 1 characters, always terminated):
// every escape sequence becomes one blank, and runs of blanks shrink to one.
// Returns dst, or "NO DATA" when src or dst is null or size is 0.
const char* cleanScreenText(const char* src, char* dst, std::size_t size);

// Appends unit to the text in dst count times, but only as many whole copies
// as fit in size (terminator included); nothing when none fits.
void appendRepeat(int count, char* dst, const char* unit, std::size_t size);

}  // namespace modburn::veltra
