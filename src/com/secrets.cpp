#include "com/secrets.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace modburn {
namespace {

// The secrets registered on this thread, in registration order.
thread_local std::vector<std::string> tlsSecrets;

// Masks each occurrence of every secret in [data, data + len). Longer secrets
// go first so that a secret containing a shorter one is masked whole.
void maskAll(char* data, std::size_t len) {
  std::vector<const std::string*> order;
  order.reserve(tlsSecrets.size());
  for (const auto& s : tlsSecrets) order.push_back(&s);
  std::stable_sort(order.begin(), order.end(),
                   [](const std::string* a, const std::string* b) { return a->size() > b->size(); });
  std::string_view view(data, len);
  for (const std::string* secret : order) {
    std::size_t pos = 0;
    while ((pos = view.find(*secret, pos)) != std::string_view::npos) {
      std::memset(data + pos, '*', secret->size());
      pos += secret->size();
    }
  }
}

}  // namespace

SecretScope::SecretScope(std::initializer_list<std::string_view> secrets)
    : previousCount_(tlsSecrets.size()) {
  for (std::string_view s : secrets) {
    if (!s.empty()) tlsSecrets.emplace_back(s);
  }
}

SecretScope::~SecretScope() { tlsSecrets.resize(previousCount_); }

bool has_secrets() { return !tlsSecrets.empty(); }

void redact_in_place(char* buf) {
  if (buf == nullptr || tlsSecrets.empty()) return;
  maskAll(buf, std::strlen(buf));
}

std::string redact(std::string_view text) {
  std::string out(text);
  if (!tlsSecrets.empty()) maskAll(out.data(), out.size());
  return out;
}

int format_masked(char* buf, std::size_t size, const char* format, va_list ap) {
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(buf, size, format, ap);
  if (n < 0) {
    buf[0] = '\0';
  } else if (static_cast<std::size_t>(n) >= size && !tlsSecrets.empty()) {
    // A secret may straddle the cut: mask the whole text, then cut it.
    std::string whole(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(whole.data(), whole.size(), format, again);
    maskAll(whole.data(), static_cast<std::size_t>(n));
    std::memcpy(buf, whole.data(), size - 1);
    buf[size - 1] = '\0';
  } else {
    redact_in_place(buf);
  }
  va_end(again);
  return n;
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
