// Firmware file URLs: validation, splitting, component getters, composers and
// the loggable form with the password hidden.
//
// Grammar (plain text, no percent-decoding):
//   URL       = scheme "://" authority "/" path [ "?" query ] [ "#" fragment ]
//   authority = [ login [ ":" password ] "@" ] server [ ":" port ]
//   path      = [ directory "/" ] file-name [ ";" modifier ]
// server is a host name, an IPv4 address or a bracketed IPv6 address. A
// password may hold ':' and '@' (the last '@' ends it); a login holds neither.
//
// The splitting operations cut a caller's writable copy in place by writing
// terminators into it and hand back pointers into it; they write nothing (no
// terminator, no output) on failure, and any output pointer may be null. The
// getters copy one component of a read-only URL into a caller's buffer, cut
// to size - 1 and terminated; an absent component is an empty string with
// URL_OK, a malformed one a negative code with the buffer left as it was.
// Nothing here allocates, logs or keeps state between calls.
#pragma once

#include <array>
#include <cstddef>

// Scheme bits; a switch module accepts the OR of the schemes it can use.
enum UrlScheme : unsigned {
  URL_SCHEME_FTP = 1,
  URL_SCHEME_TFTP = 2,
  URL_SCHEME_HTTP = 4,
  URL_SCHEME_RCP = 8,
};

// Result codes of every URL operation.
enum UrlStatus : int {
  URL_OK = 0,
  URL_BAD_SCHEME_SYNTAX = -1,
  URL_BAD_SYNTAX = -2,
  URL_BAD_SERVER = -3,
  URL_BAD_PATH = -4,
  URL_BAD_QUERY = -5,
  URL_BAD_FRAGMENT = -6,
  URL_BAD_MODIFIER = -7,  // has a text; no operation returns it
  URL_INV_SCHEME = -8,
  URL_INV_LOGIN = -9,
  URL_INV_QUERY = -10,
  URL_INV_FRAGMENT = -11,
  URL_INV_MODIFIER = -12,
  URL_BAD_RECEPTACLE = -13,
};

// Size of every working copy (of a URL, an authority or a path): texts are
// cut to URL_WORK_SIZE - 1 characters.
inline constexpr std::size_t URL_WORK_SIZE = 512;

// The components of one URL: pointers into a working copy, null when absent.
struct UrlParts {
  char* scheme;     // never absent
  char* authority;  // never absent, may be empty
  char* path;       // never absent, may be empty
  char* query;      // may be empty
  char* fragment;   // may be empty
  char* server;     // never absent, never empty; IPv6 brackets removed
  char* port;       // not checked to be a number; may be empty
  char* login;
  char* password;   // may be empty
  char* directory;
  char* filename;   // may be empty (path ending in '/')
  char* modifier;
};

// Message of a code; unlisted codes give "Unknown error=%d" in a per-thread buffer.
const char* url_error_text(int code);

// The UrlScheme bit of the URL's scheme ("ftp:" or "FTP:", ...), or 0 for a
// mixed-case or unknown scheme and for a null or empty URL.
unsigned url_scheme_type(const char* url);

// Cuts copy into scheme, authority, path, query and fragment; URL_OK or URL_BAD_SYNTAX.
int url_split(char* copy, char** scheme, char** authority, char** path, char** query, char** fragment);

// Cuts an authority into server, port, login and password; URL_OK or URL_BAD_SERVER.
int url_parse_authority(char* authority, char** server, char** port, char** login, char** password);

// Cuts a path into directory, file name and modifier; URL_OK or URL_BAD_PATH.
int url_parse_path(char* path, char** directory, char** filename, char** modifier);

// url_split, url_parse_authority and url_parse_path in a row on copy; fills
// parts only on URL_OK (the copy may be cut on a failure).
int url_parse(char* copy, UrlParts* parts);

// Judges a URL (its first 511 characters) as a URL of one scheme bit; the
// caller's text is not changed. A control character anywhere is URL_BAD_SYNTAX.
int url_validate_as(const char* url, unsigned scheme);

// Judges a URL against the set of accepted scheme bits: URL_OK or the first defect.
int url_validate(const char* url, unsigned accepted);

// Getters: copy one component of url into buf (cut to size - 1, terminated).
// A null or empty url is URL_BAD_SYNTAX, then a null buf or size 0 is
// URL_BAD_RECEPTACLE; an absent component is an empty string with URL_OK.

// Text in front of the first "://"; URL_BAD_SCHEME_SYNTAX without one.
int url_get_scheme(const char* url, char* buf, std::size_t size);
// Text between "://" and the next '/'; URL_BAD_SERVER without that '/'.
int url_get_authority(const char* url, char* buf, std::size_t size);
// Text behind the authority's '/' up to '?' or '#', modifier included; URL_BAD_PATH when malformed.
int url_get_path(const char* url, char* buf, std::size_t size);
// Text behind the first '?' up to '#'; URL_BAD_QUERY for "?#" or a final '?'.
int url_get_query(const char* url, char* buf, std::size_t size);
// Text behind the fragment's '#'; URL_BAD_FRAGMENT for a final '#'.
int url_get_fragment(const char* url, char* buf, std::size_t size);
// Server, IPv6 brackets removed; URL_BAD_SERVER when the authority is malformed or over 511 characters.
int url_get_server(const char* url, char* buf, std::size_t size);
// Port text; failures as url_get_server.
int url_get_port(const char* url, char* buf, std::size_t size);
// Login; failures as url_get_server.
int url_get_login(const char* url, char* buf, std::size_t size);
// Password; failures as url_get_server.
int url_get_password(const char* url, char* buf, std::size_t size);
// Directory of the path; URL_BAD_PATH when the path is malformed or over 511 characters.
int url_get_directory(const char* url, char* buf, std::size_t size);
// File name of the path; failures as url_get_directory.
int url_get_filename(const char* url, char* buf, std::size_t size);
// Text behind the file name's ';'; failures as url_get_directory.
int url_get_modifier(const char* url, char* buf, std::size_t size);

// Writes scheme "://" authority "/" path ["?" query] ["#" fragment] into buf
// (no '/' added when path begins with one, no '?' or '#' when query or
// fragment already begins with it). Returns buf, or null for a null buf, size
// 0, a missing scheme, authority or path, or a text that does not fit (buf is
// then left empty).
char* url_compose(char* buf, std::size_t size, const char* scheme, const char* authority, const char* path,
                  const char* query, const char* fragment);

// Writes [login [":" password] "@"] server [":" port] into buf, bracketing a
// server that contains ':'. Returns buf, or null for a null buf, size 0, a
// missing server, a password without a (non-empty) login, or a text that does
// not fit (buf is then left empty).
char* url_compose_authority(char* buf, std::size_t size, const char* server, const char* port, const char* login,
                            const char* password);

// A password holding '/', which the grammar cannot tell from the end of the
// authority: "ftp://user:pa/ss@host/fw.bin" reads as server "user", port
// "pa" and path "ss@host/fw.bin", and its password would be neither used nor
// masked as one. Such a URL has a ':' and no '@' between "://" and the next
// '/', and an '@' with text behind it further on. True for such a URL, with
// the place of the password meant (from behind that ':' to the last '@') in
// *from and *length when they are not null; false for any other URL (a null
// one included). A URL with a port whose path holds an '@' is taken for one
// too ("ftp://host:21/d/f@x"): the password must then be written
// percent-encoded, "/" as %2F, which the switch is left to decode.
bool url_slashed_password(const char* url, std::size_t* from, std::size_t* length);

// What a refusal of such a URL tells the user to do.
inline constexpr const char* URL_SLASHED_PASSWORD_ADVICE =
    "a \"/\" in the URL's password ends its server part: write the password percent-encoded (\"/\" as %2F)";

// The loggable form of url: its first min(511, size - 1) characters, with
// every character of the password replaced by '*'. The password is the text
// between the first ':' and the last '@' of the authority (between the first
// "://" and the next '/', or the end), found whether or not the rest of the URL
// is well formed. Returns buf, always terminated (empty for a null url), or
// null for a null buf or size 0.
char* url_mask_password(const char* url, char* buf, std::size_t size);

namespace modburn {

// Every part of one firmware URL, each in a buffer that holds the whole part
// of any URL that validates (511 characters): nothing is ever cut.
struct UrlPieces {
  using Text = std::array<char, URL_WORK_SIZE>;
  Text scheme{}, server{}, port{}, login{}, password{}, path{}, directory{}, filename{};
  // The loggable URL (password masked).
  Text shown{};

  // Takes the parts of url: URL_OK, or the first getter's UrlStatus.
  int read(const char* url);
};

}  // namespace modburn
