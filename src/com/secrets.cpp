#include "com/secrets.h"

#include <algorithm>
#include <bitset>
#include <cstdio>
#include <cstring>
#include <vector>

namespace modburn {
namespace {

// One registered secret and the length of the pieces of it that are masked.
struct Secret {
  std::string text;
  std::size_t window;
};

// The secrets registered on this thread, in registration order, and the
// bytes that begin one of their windows (a cheap test before any compare).
struct ThreadSecrets {
  std::vector<Secret> secrets;
  std::bitset<256> windowStarts;

  void rebuild() {
    windowStarts.reset();
    for (const Secret& s : secrets) {
      for (std::size_t j = 0; j + s.window <= s.text.size(); ++j) {
        windowStarts.set(static_cast<unsigned char>(s.text[j]));
      }
    }
  }

  // Length of the window of some secret that begins at data[0] (at most
  // len bytes available), or 0 when none does.
  std::size_t windowAt(const char* data, std::size_t len) const {
    for (const Secret& s : secrets) {
      if (s.window > len) continue;
      for (std::size_t j = 0; j + s.window <= s.text.size(); ++j) {
        if (std::memcmp(data, s.text.data() + j, s.window) == 0) return s.window;
      }
    }
    return 0;
  }
};

thread_local ThreadSecrets tlsSecrets;

// Masks, in [data, data + len), every occurrence of every window of every
// secret, so that a piece of a secret is masked wherever it stands: split
// over two lines by a line editor, or cut off by a buffer's end. One pass:
// a window is looked for at each position before that position is starred,
// so overlapping windows are all found.
void maskAll(char* data, std::size_t len) {
  std::size_t maskedUntil = 0;
  for (std::size_t i = 0; i < len; ++i) {
    if (tlsSecrets.windowStarts.test(static_cast<unsigned char>(data[i]))) {
      maskedUntil = std::max(maskedUntil, i + tlsSecrets.windowAt(data + i, len - i));
    }
    if (i < maskedUntil) data[i] = '*';
  }
}

}  // namespace

SecretScope::SecretScope(std::initializer_list<std::string_view> secrets, SecretMatch match)
    : previousCount_(tlsSecrets.secrets.size()) {
  for (std::string_view s : secrets) {
    if (s.empty()) continue;
    const std::size_t window = match == SecretMatch::Pieces ? std::min(kSecretWindow, s.size()) : s.size();
    tlsSecrets.secrets.push_back({std::string(s), window});
  }
  tlsSecrets.rebuild();
}

SecretScope::~SecretScope() {
  tlsSecrets.secrets.resize(previousCount_);
  tlsSecrets.rebuild();
}

bool has_secrets() { return !tlsSecrets.secrets.empty(); }

void redact_in_place(char* buf) {
  if (buf == nullptr || !has_secrets()) return;
  maskAll(buf, std::strlen(buf));
}

std::string redact(std::string_view text) {
  std::string out(text);
  if (has_secrets()) maskAll(out.data(), out.size());
  return out;
}

}  // namespace modburn

namespace modburn {

char* maskPassword(const char* password, char* out, std::size_t size) {
  if (password == nullptr || out == nullptr || size == 0) return nullptr;
  const std::size_t n = std::min(std::strlen(password), size - 1);
  std::memset(out, '*', n);
  out[n] = '\0';
  return out;
}

}  // namespace modburn
