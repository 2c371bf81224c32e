// printf-style formatting into fixed buffers: whole or not at all, or cut on
// purpose. The dialogues build every command they type with these, so that a
// command is either typed whole or refused, never typed cut.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace modburn {

// Formats into out (size bytes) only when the whole text fits in size - 1
// characters; returns true then. Otherwise out is left empty and false is
// returned.
bool format_whole(char* out, std::size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
// The same with a va_list.
bool vformat_whole(char* out, std::size_t size, const char* format, va_list ap) __attribute__((format(printf, 3, 0)));
// True when the formatted text fits in size - 1 characters (nothing is kept).
bool fits(std::size_t size, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Formats into out, cut to size - 1 characters like every fixed buffer of a
// dialogue (the cut is part of the behaviour, not an accident); returns out.
char* format_cut(char* out, std::size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
// The whole formatted text, however long (empty on a format error).
std::string vformat(const char* format, va_list ap) __attribute__((format(printf, 1, 0)));

}  // namespace modburn
