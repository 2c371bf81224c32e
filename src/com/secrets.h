// Secrets of the running update: texts that must never reach a log line or an
// error text in clear.
//
// A module run registers the switch password and the firmware URL's password
// on its own thread for as long as it runs; every log path of the library
// (the core's io_log, the telnet layer's logit) and the error text given to
// Java pass through redact(), which writes one '*' per character of each
// piece of a registered secret it finds. A piece is any kSecretWindow
// characters in a row of a secret (the whole secret when it is shorter):
// text that reaches a log only in pieces (an echo that a line editor wrapped
// in the middle of a password, a tail cut off by a buffer's end) shows none
// of them. Registration is per thread, so concurrent updates never see each
// other's secrets.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace modburn {

// The length of the pieces of a secret that are masked wherever they stand.
inline constexpr std::size_t kSecretWindow = 5;

// What of a registered text is masked: every piece of kSecretWindow
// characters (a password), or only the text whole (a text that holds a
// secret among other characters, whose pieces alone are no secret).
enum class SecretMatch { Pieces, Whole };

// Registers secrets for the lifetime of the scope on the calling thread.
// Empty texts are ignored. Scopes nest; leaving one forgets only its own.
class SecretScope {
 public:
  explicit SecretScope(std::initializer_list<std::string_view> secrets, SecretMatch match = SecretMatch::Pieces);
  ~SecretScope();
  SecretScope(const SecretScope&) = delete;
  SecretScope& operator=(const SecretScope&) = delete;

 private:
  std::size_t previousCount_;
};

// True when at least one secret is registered on this thread.
bool has_secrets();

// Masks every piece of a registered secret in buf (NUL-terminated), in
// place: one '*' per character.
void redact_in_place(char* buf);

// Copy of text with every piece of a registered secret masked.
std::string redact(std::string_view text);

}  // namespace modburn

namespace modburn {

// One '*' per character of password (at most size - 1) into out: how a typed
// password is shown in a log line. Returns out, or null for a null password,
// a null out or a size of 0.
char* maskPassword(const char* password, char* out, std::size_t size);

}  // namespace modburn
