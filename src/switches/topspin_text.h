// The Topspin module's reading of the switch's own text: where a line ends
// at the prompt, the names its listings and boot configuration show, and the
// name a package installs under. Apart from the module so that tests reach
// them.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace modburn::topspin {

// An image or package name as the update keeps it.
using Name = std::array<char, 256>;

// True when a match that runs to the end of its line ends with prompt ("# "),
// its line end left out.
bool endsAtPrompt(std::string_view text, std::string_view prompt = "# ");

// The text up to its first blank or line end.
std::string_view firstWord(std::string_view text);

// Copies text whole into out; false (out empty) when it does not fit.
bool copyWhole(std::string_view text, Name& out);

// The image named by a "primary-image-source : <name>" line: the word after
// the first ':' (blanks skipped), empty when there is no ':' or nothing
// follows it. Never reads past the text.
std::string_view primaryImage(std::string_view line);

// The name a package installs under: for a package named after the
// "TopspinOS-<version>-build<n>.img" naming, its name without the extension
// and with the last '-' made a '/' ("TopspinOS-2.3.0/build123"). Returns the
// engine's result (SREGEX_MATCH or not); out is empty without a match.
int expectedImage(const char* filename, char* out, std::size_t size);

}  // namespace modburn::topspin
