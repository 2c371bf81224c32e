// What a family accepts before anything is typed: the rules of the
// parameter check that every module runs first, and the stock rules a
// family's own URL rule composes.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "switches/switches.h"
#include "url/url.h"

namespace modburn {

// What a family accepts. The checks run in one order for every family, the
// first defect deciding: request present, address (IO_INV_IP), user and
// password (IO_INV_LOGIN), URL present (IO_MISSING_URL), URL valid for the
// schemes (IO_INV_URL_SCHEME / IO_INV_URL_SYNTAX), the family's own URL rule,
// debug level 0..2 (IO_BAD_PARAMS), the family's last rule.
struct ParamRules {
  unsigned schemes = 0;                     // UrlScheme bits accepted
  bool portAllowed = false;                 // an address may name a port
  bool hostNameRefused = false;             // a host name (not a literal) gives IO_INV_URL_HOST
  // The family types the URL's parts unquoted into commands or form fields:
  // server, port, login, directory and file name must be plain
  // (url_typed_parts_plain), otherwise IO_INV_URL_SYNTAX.
  bool plainTypedParts = false;
  // The family also types the URL's password inside a command: it must be
  // plain too (IO_INV_URL_LOGIN otherwise).
  bool plainPassword = false;
  int (*urlRule)(const char* fileurl) = nullptr;    // 0 or an IoStatus
  // 0 or an IoStatus; also run for a versions request, which carries no URL.
  int (*lastRule)(const SwitchRequest&) = nullptr;
  // The console is served over TELNET only: an ssh:// address gives IO_INV_IP.
  bool noSsh = false;
};

// Longest user name or password a family accepts: each is typed as one
// "%s\r\n" line of at most 199 characters, whole or not at all.
inline constexpr std::size_t kMaxLoginText = 197;

// The address test alone, on a 200-byte copy: 0 or the IoStatus of its
// defect. An SSH console's address, "ssh://" (any case) followed by an
// address, is judged by what follows the scheme; it may name the SSH port
// whatever the family's TELNET rule (default 22).
int check_address(const char* targetip, const ParamRules& rules);
// A switch address cut into its parts on a 200-byte copy: host (IPv6
// brackets removed), port (0: none given), and whether it names an SSH
// console. The address must have passed check_address.
struct ConsoleTarget {
  std::array<char, 200> copy{};
  const char* host = "";
  int port = 0;
  bool ssh = false;
};
void split_address(const char* targetip, ConsoleTarget& out);

// Checks the host key of the SSH console that an ssh:// address names
// without logging in (sshcon_checkHostKey, strict whatever the policy):
// TELNET_SUCCESS when the known_hosts file holds it, else the SshStatus or
// TelnetStatus of what stood in the way (TELNET_BAD_HOST for an address that
// is no ssh:// address or does not pass the address check). key and why as
// sshcon_checkHostKey hands them back.
int check_host_key(const char* targetip, int timeoutMillis, char* key, int keySize, char* why, int whySize);

// Why the check refuses targetip, for the error text, where the address
// alone does not say it: an ssh:// address for a family whose console has
// no SSH. Null otherwise.
const char* address_advice(const char* targetip, const ParamRules& rules);
// The user name and password: present, at most kMaxLoginText characters, and
// free of control characters (a line end or ESC in either would type more
// than the login on the switch). 0 or IO_INV_LOGIN.
int check_login(const char* user, const char* password);
// The URL tests alone (present, valid for the schemes, the family's rule).
int check_url(const char* fileurl, const ParamRules& rules);
// Every test in order: 0 or the IoStatus of the first defect. A versions
// request has no URL: the URL tests are left out, and the family's last
// rule judges what it can without one (SAS: the modifier's target).
int check_params(const SwitchRequest* req, const ParamRules& rules);

// True when every character of text may be typed unquoted into a command: no
// blank, no double quote, no control character, no byte of 0x7F or above.
bool plain_text(std::string_view text);
// True when server is a host name (letters, digits, '-', '.', '_'), an IPv4
// address or an IPv6 address (hex digits, ':' and '.'; brackets removed).
bool plain_server(std::string_view server);
// The typed-parts rule on a URL that validates: 0, IO_INV_URL_SYNTAX when the
// server, port, login, directory or file name is not plain, or (withPassword)
// IO_INV_URL_LOGIN when the password is not.
int url_typed_parts_plain(const char* fileurl, bool withPassword);

// Stock URL rules. The URL must carry a login (IO_INV_URL_LOGIN; a URL whose
// login cannot be taken gives IO_INV_URL_SYNTAX).
int url_needs_login(const char* fileurl);
// The same, for FTP URLs only.
int ftp_url_needs_login(const char* fileurl);
// The scheme must be written in lower case (IO_INV_URL_SCHEME otherwise).
int url_scheme_lower_case(const char* fileurl);

// The limits of consoles that take server, directory and file name as
// fields of their own from a TFTP URL: the default port (69) or none, a
// server of at most 99 characters, a directory of at most 199, a file name of
// 1 to 99. 0, or IO_INV_URL_SYNTAX.
int tftp_parts_rule(const UrlPieces& u);

}  // namespace modburn
