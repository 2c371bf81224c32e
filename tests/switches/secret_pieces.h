// What the fault tables look for in every log and error text: a piece of a
// password, five characters of it in a row (the whole of a shorter one), as
// the library masks them.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "com/secrets.h"

namespace switchtest {

// The first piece of secret found in text, or "" when none is there.
inline std::string firstPiece(std::string_view text, std::string_view secret) {
  const std::size_t k = std::min(modburn::kSecretWindow, secret.size());
  for (std::size_t j = 0; j + k <= secret.size(); ++j) {
    if (text.find(secret.substr(j, k)) != std::string_view::npos) return std::string(secret.substr(j, k));
  }
  return "";
}

}  // namespace switchtest
