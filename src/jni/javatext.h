// Texts handed to Java: byte strings from the library (switch console output
// among them) turned into the UTF-16 that a Java string holds. Free of JNI so
// that it can be tested on its own.
#pragma once

#include <string>
#include <string_view>

namespace modburn {

// UTF-16 of a byte string. Well-formed UTF-8 decodes as such, including the
// modified UTF-8 that Java itself hands out (C0 80 for NUL, surrogates as
// three-byte sequences); any byte that does not start a well-formed sequence
// stands for the Latin-1 character of its value, so no input is refused.
std::u16string java_text(std::string_view bytes);

}  // namespace modburn
