// Text from outside is data, never control: whatever a console sends reaches
// a log, an error text or a terminal escaped. No C0 or C1 control character
// survives but, where the caller keeps them, line ends; valid UTF-8 stays
// readable, and a byte that is not part of valid UTF-8 shows as \xHH.
//
// Escapes: bell, backspace, tab, line feed, vertical tab, form feed and
// carriage return as \a \b \t \n \v \f \r; every other control byte (0x00 to
// 0x1F, 0x7F), every byte of a UTF-8 encoded C1 control (U+0080 to U+009F)
// and every byte outside valid UTF-8 as a backslash, 'x' and its value in
// lower-case hexadecimal without leading zeros (\x1b, \xc2, \x9b, \xff).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace modburn {

// How line ends fare: escaped like any control character (a one-line quote
// in a log line), or kept (a line feed, and a carriage return right before
// one) where the text is meant to run over several lines.
enum class LineEnds { Escaped, Kept };

// The escaped form of text.
std::string escape_text(std::string_view text, LineEnds lineEnds);

// The escaped form of text written into out (size >= 5) while fewer than
// size - 5 characters have been written, so that one more escape or UTF-8
// sequence (four characters at most) and the terminator always fit; the rest
// is dropped without a mark. Returns the length written.
std::size_t escape_bounded(std::string_view text, char* out, std::size_t size, LineEnds lineEnds);

// The length of text's longest prefix of at most n bytes that does not end
// inside a UTF-8 sequence: where a text may be cut without leaving a stray
// lead byte behind.
std::size_t utf8_cut(std::string_view text, std::size_t n);

// Formats one log entry into buf (size > 0): the calling thread's secrets
// masked, control characters escaped (line ends kept), and only then cut to
// size - 1 characters, never inside a UTF-8 sequence, so that no part of a
// secret and no raw control byte survives the cut. Returns the length of the
// whole entry before the cut (a result of size or more means it was cut), or
// -1 on a format error, which leaves buf empty.
int format_entry(char* buf, std::size_t size, const char* format, va_list ap) __attribute__((format(printf, 3, 0)));

// The same without a size limit.
std::string format_entry_whole(const char* format, va_list ap) __attribute__((format(printf, 1, 0)));

}  // namespace modburn
