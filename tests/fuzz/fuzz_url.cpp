// Fuzzes URL validation, the getters and password masking on arbitrary text.
// Input: one byte choosing the buffer size, then the URL (up to its first
// NUL). Buffers are heap blocks of exactly that size, so AddressSanitizer
// reports any write past them.
#include "url/url.h"
#include "fuzz_support.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

using fuzzsupport::require;

namespace {

using Getter = int (*)(const char*, char*, std::size_t);
const Getter kGetters[] = {url_get_scheme,   url_get_authority, url_get_path,     url_get_query,
                           url_get_fragment, url_get_server,    url_get_port,     url_get_login,
                           url_get_password, url_get_directory, url_get_filename, url_get_modifier};

std::string password_of(const char* url) {
  char pw[1024];
  return url_get_password(url, pw, sizeof pw) == URL_OK ? std::string(pw) : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t bufSize = 1 + std::size_t{data[0]} * 5;
  const std::string url = std::string(reinterpret_cast<const char*>(data + 1), size - 1).c_str();
  const char* u = url.c_str();

  // Validation: a listed code; success only for an accepted scheme, and then
  // the authority's parts can be taken out.
  for (unsigned accepted = 0; accepted < 16; ++accepted) {
    int rc = url_validate(u, accepted);
    require(rc <= URL_OK && rc >= URL_BAD_RECEPTACLE);
    if (rc != URL_OK) continue;
    require((url_scheme_type(u) & accepted) != 0);
    require(url_validate_as(u, url_scheme_type(u)) == URL_OK);
    char server[8];
    if (url.size() < URL_WORK_SIZE) require(url_get_server(u, server, sizeof server) == URL_OK);
  }

  // Getters: terminated inside the buffer on success.
  auto buf = std::make_unique<char[]>(bufSize);
  for (Getter get : kGetters) {
    if (get(u, buf.get(), bufSize) == URL_OK) require(std::memchr(buf.get(), '\0', bufSize) != nullptr);
  }

  // Masking: the URL's own text cut to size, where only '*' may differ, and
  // from which the password comes back as stars only.
  require(url_mask_password(u, buf.get(), bufSize) == buf.get());
  const std::size_t shown = std::strlen(buf.get());
  require(shown == std::min({url.size(), URL_WORK_SIZE - 1, bufSize - 1}));
  for (std::size_t i = 0; i < shown; ++i) require(buf[i] == url[i] || buf[i] == '*');
  const std::string pw = password_of(u);
  if (!pw.empty() && url.size() < URL_WORK_SIZE) {
    char masked[URL_WORK_SIZE];
    url_mask_password(u, masked, sizeof masked);
    require(password_of(masked) == std::string(pw.size(), '*'));
  }
  return 0;
}
