// Secrets of the running update: texts that must never reach a log line or an
// error text in clear.
//
// A module run registers the switch password and the firmware URL's password
// on its own thread for as long as it runs; every log path of the library
// (the core's io_log, the telnet layer's logit) and the error text given to
// Java pass through redact(), which writes one '*' per character of each
// registered secret found. Registration is per thread, so concurrent updates
// never see each other's secrets.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace modburn {

// Registers secrets for the lifetime of the scope on the calling thread.
// Empty texts are ignored. Scopes nest; leaving one forgets only its own.
class SecretScope {
 public:
  SecretScope(std::initializer_list<std::string_view> secrets);
  ~SecretScope();
  SecretScope(const SecretScope&) = delete;
  SecretScope& operator=(const SecretScope&) = delete;

 private:
  std::size_t previousCount_;
};

// True when at least one secret is registered on this thread.
bool has_secrets();

// Masks every occurrence of a registered secret in buf (NUL-terminated), in
// place: one '*' per character; longer secrets are masked first.
void redact_in_place(char* buf);

// Copy of text with every registered secret masked.
std::string redact(std::string_view text);

// Formats into buf (size > 0) with every registered secret masked before the
// text is cut to size - 1 characters, so that no part of a secret survives the
// cut. Returns the length of the whole formatted text, as vsnprintf does (a
// result of size or more means the entry was cut), or -1 on a format error,
// which leaves buf empty.
int format_masked(char* buf, std::size_t size, const char* format, va_list ap)
    __attribute__((format(printf, 3, 0)));

}  // namespace modburn

namespace modburn {

// One '*' per character of password (at most size - 1) into out: how a typed
// password is shown in a log line. Returns out, or null for a null password,
// a null out or a size of 0.
char* maskPassword(const char* password, char* out, std::size_t size);

}  // namespace modburn
