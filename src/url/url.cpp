#include "url/url.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

using std::string_view;
constexpr std::size_t npos = string_view::npos;

// Where the separators of a URL stand: the "://", the '/' that ends the
// authority, the query's '?' and the fragment's '#' (npos when missing).
struct Marks {
  std::size_t sep = npos;
  std::size_t slash = npos;
  std::size_t query = npos;
  std::size_t fragment = npos;
};

// Finds the separators. A '#' in front of the first '?' stays in the path;
// the fragment's '#' is then searched behind the '?'.
Marks find_marks(string_view s) {
  Marks m;
  m.sep = s.find("://");
  if (m.sep == npos) return m;
  m.slash = s.find('/', m.sep + 3);
  if (m.slash == npos) return m;
  m.query = s.find('?', m.slash + 1);
  m.fragment = s.find('#', m.query != npos ? m.query + 1 : m.slash + 1);
  return m;
}

// The authority of a URL: between the first "://" and the next '/', or to
// the end when there is no such '/'. Empty view without "://".
string_view authority_region(string_view s) {
  std::size_t sep = s.find("://");
  if (sep == npos) return {};
  std::size_t start = sep + 3;
  std::size_t end = std::min(s.find('/', start), s.size());
  return s.substr(start, end - start);
}

// Copies at most size - 1 characters of text into buf and terminates it.
void copy_cut(char* buf, std::size_t size, string_view text) {
  std::size_t n = std::min(text.size(), size - 1);
  if (n > 0) std::memcpy(buf, text.data(), n);  // an empty view may hold no pointer
  buf[n] = '\0';
}

// Copies an optional component; absent is the empty string.
void copy_component(char* buf, std::size_t size, const char* component) {
  copy_cut(buf, size, component != nullptr ? string_view(component) : string_view());
}

void put(char** out, char* value) {
  if (out != nullptr) *out = value;
}

// The checks every getter makes first, in this order.
int check_getter_args(const char* url, const char* buf, std::size_t size) {
  if (url == nullptr || *url == '\0') return URL_BAD_SYNTAX;
  if (buf == nullptr || size == 0) return URL_BAD_RECEPTACLE;
  return URL_OK;
}

// Text between "://" and the '/' that ends the authority.
int authority_of(string_view s, string_view& out) {
  Marks m = find_marks(s);
  if (m.sep == npos) return URL_BAD_SCHEME_SYNTAX;
  if (m.slash == npos) return URL_BAD_SERVER;
  out = s.substr(m.sep + 3, m.slash - m.sep - 3);
  return URL_OK;
}

// The path behind the authority up to '?' or '#', modifier included. Refuses
// a one-character path (alone or in front of '?'/'#'), a '?'/'#' that ends
// the URL, and a ';' that ends the path.
int path_of(string_view s, string_view& out) {
  Marks m = find_marks(s);
  if (m.sep == npos) return URL_BAD_SCHEME_SYNTAX;
  if (m.slash == npos) return URL_BAD_SERVER;
  string_view path = s.substr(m.slash + 1);
  std::size_t semi = path.find(';');
  std::size_t end = path.find_first_of("?#");
  if (end != npos) {
    if (end == 1 || end == path.size() - 1) return URL_BAD_PATH;
    if (semi != npos && semi + 1 == end) return URL_BAD_PATH;
    out = path.substr(0, end);
    return URL_OK;
  }
  if (path.size() < 2) return URL_BAD_PATH;
  if (semi == path.size() - 1) return URL_BAD_PATH;
  out = path;
  return URL_OK;
}

// Text in front of the first "://".
int scheme_of(string_view s, string_view& out) {
  std::size_t sep = s.find("://");
  if (sep == npos) return URL_BAD_SCHEME_SYNTAX;
  out = s.substr(0, sep);
  return URL_OK;
}

// Text behind the query's '?' up to the fragment's '#'; empty when there is
// no '?'. An empty query ("?#", or '?' at the end) is refused.
int query_of(string_view s, string_view& out) {
  if (int rc = authority_of(s, out); rc != URL_OK) return rc;
  Marks m = find_marks(s);
  out = {};
  if (m.query == npos) return URL_OK;
  if (m.query + 1 == s.size() || s[m.query + 1] == '#') return URL_BAD_QUERY;
  out = s.substr(m.query + 1, std::min(m.fragment, s.size()) - m.query - 1);
  return URL_OK;
}

// Text behind the fragment's '#' to the end; empty when there is no '#'. A
// '#' at the end is refused.
int fragment_of(string_view s, string_view& out) {
  if (int rc = authority_of(s, out); rc != URL_OK) return rc;
  Marks m = find_marks(s);
  out = {};
  if (m.fragment == npos) return URL_OK;
  if (m.fragment + 1 == s.size()) return URL_BAD_FRAGMENT;
  out = s.substr(m.fragment + 1);
  return URL_OK;
}

using Fetch = int (*)(string_view url, string_view& component);

// Getters of a whole component: fetch it and copy it cut to the buffer.
int get_whole(const char* url, char* buf, std::size_t size, Fetch fetch) {
  if (int rc = check_getter_args(url, buf, size); rc != URL_OK) return rc;
  string_view component;
  if (int rc = fetch(url, component); rc != URL_OK) return rc;
  copy_cut(buf, size, component);
  return URL_OK;
}

// Copies the component into a working copy for the splitters. A component
// longer than the copy fails with tooLong rather than being split cut: a cut
// authority or path would hand back wrong parts (a password prefix as port).
int working_copy(char (&work)[URL_WORK_SIZE], string_view text, int tooLong) {
  if (text.size() >= URL_WORK_SIZE) return tooLong;
  copy_cut(work, URL_WORK_SIZE, text);
  return URL_OK;
}

// Getters of the authority's or the path's parts: fetch the component, split
// a working copy of it, copy part number `which` of what the splitter found.
using Splitter = int (*)(char* work, char** parts);

int get_split_part(const char* url, char* buf, std::size_t size, Fetch fetch, int tooLong, Splitter split,
                   int which) {
  if (int rc = check_getter_args(url, buf, size); rc != URL_OK) return rc;
  string_view component;
  if (int rc = fetch(url, component); rc != URL_OK) return rc;
  char work[URL_WORK_SIZE];
  if (int rc = working_copy(work, component, tooLong); rc != URL_OK) return rc;
  char* parts[4] = {};
  if (int rc = split(work, parts); rc != URL_OK) return rc;
  copy_component(buf, size, parts[which]);
  return URL_OK;
}

enum AuthorityPart { SERVER, PORT, LOGIN, PASSWORD };
enum PathPart { DIRECTORY, FILENAME, MODIFIER };

int get_authority_part(const char* url, char* buf, std::size_t size, AuthorityPart which) {
  return get_split_part(url, buf, size, authority_of, URL_BAD_SERVER, [](char* work, char** p) {
    return url_parse_authority(work, &p[SERVER], &p[PORT], &p[LOGIN], &p[PASSWORD]);
  }, which);
}

int get_path_part(const char* url, char* buf, std::size_t size, PathPart which) {
  return get_split_part(url, buf, size, path_of, URL_BAD_PATH, [](char* work, char** p) {
    return url_parse_path(work, &p[DIRECTORY], &p[FILENAME], &p[MODIFIER]);
  }, which);
}

// What each scheme bit allows in front of the server.
struct SchemeRule {
  unsigned bit;
  const char* lower;
  const char* upper;
  bool loginAllowed;
  bool passwordAllowed;
};

constexpr SchemeRule kSchemes[] = {
    {URL_SCHEME_FTP, "ftp", "FTP", true, true},
    {URL_SCHEME_TFTP, "tftp", "TFTP", false, false},
    {URL_SCHEME_HTTP, "http", "HTTP", false, false},
    {URL_SCHEME_RCP, "rcp", "RCP", true, false},
};

const SchemeRule* rule_for(unsigned bit) {
  for (const SchemeRule& r : kSchemes) {
    if (r.bit == bit) return &r;
  }
  return nullptr;
}

bool has_control_character(string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
  });
}

}  // namespace

const char* url_error_text(int code) {
  switch (static_cast<UrlStatus>(code)) {
    case URL_OK: return "SUCCESS";
    case URL_BAD_SCHEME_SYNTAX: return "Bad scheme syntax";
    case URL_BAD_SYNTAX: return "Bad URL syntax";
    case URL_BAD_SERVER: return "Bad server syntax";
    case URL_BAD_PATH: return "Bad path syntax";
    case URL_BAD_QUERY: return "Bad (HTTP) query syntax";
    case URL_BAD_FRAGMENT: return "Bad (HTTP) fragment syntax";
    case URL_BAD_MODIFIER: return "Bad (FTP/TFTP) file modifier";
    case URL_INV_SCHEME: return "Invalid/inappropriate scheme";
    case URL_INV_LOGIN: return "Invalid/inappropriate login/password";
    case URL_INV_QUERY: return "Invalid (HTTP) query";
    case URL_INV_FRAGMENT: return "Invalid (HTTP) fragment";
    case URL_INV_MODIFIER: return "Invalid (FTP/TFTP) file modifier";
    case URL_BAD_RECEPTACLE: return "Bad receptacle pointer/length";
  }
  thread_local char unknown[100];
  std::snprintf(unknown, sizeof unknown, "Unknown error=%d", code);
  return unknown;
}

unsigned url_scheme_type(const char* url) {
  if (url == nullptr) return 0;
  string_view s(url);
  for (const SchemeRule& r : kSchemes) {
    std::size_t n = std::strlen(r.lower);
    if (s.size() > n && s[n] == ':' && (s.starts_with(r.lower) || s.starts_with(r.upper))) return r.bit;
  }
  return 0;
}

int url_split(char* copy, char** scheme, char** authority, char** path, char** query, char** fragment) {
  if (copy == nullptr || *copy == '\0') return URL_BAD_SYNTAX;
  Marks m = find_marks(copy);
  if (m.sep == npos || m.slash == npos) return URL_BAD_SYNTAX;
  copy[m.sep] = '\0';
  copy[m.slash] = '\0';
  if (m.query != npos) copy[m.query] = '\0';
  if (m.fragment != npos) copy[m.fragment] = '\0';
  put(scheme, copy);
  put(authority, copy + m.sep + 3);
  put(path, copy + m.slash + 1);
  put(query, m.query != npos ? copy + m.query + 1 : nullptr);
  put(fragment, m.fragment != npos ? copy + m.fragment + 1 : nullptr);
  return URL_OK;
}

// The last '@' ends login and password; the first ':' in front of it ends
// the login. Brackets may only enclose the whole server (an IPv6 address),
// followed by nothing or by ":port"; any other bracket, an empty login and an
// empty server are refused.
int url_parse_authority(char* authority, char** server, char** port, char** login, char** password) {
  if (authority == nullptr || *authority == '\0') return URL_BAD_SERVER;
  string_view s(authority);
  std::size_t at = s.rfind('@');
  std::size_t passwordSep = npos;
  std::size_t host = 0;
  if (at != npos) {
    std::size_t colon = s.find(':');
    if (s[0] == '@' || colon == 0) return URL_BAD_SERVER;
    if (colon < at) passwordSep = colon;
    host = at + 1;
  }
  std::size_t open = npos;
  std::size_t close = npos;
  std::size_t portSep = npos;
  std::size_t serverStart = host;
  std::size_t serverEnd = npos;
  if (s.substr(host).starts_with('[')) {
    open = host;
    close = s.find_first_of("[]", open + 1);
    if (close == npos || s[close] != ']' || s.find_first_of("[]", close + 1) != npos) return URL_BAD_SERVER;
    if (close + 1 < s.size() && s[close + 1] != ':') return URL_BAD_SERVER;
    if (close + 1 < s.size()) portSep = close + 1;
    serverStart = open + 1;
    serverEnd = close;
  } else {
    if (s.find_first_of("[]", host) != npos) return URL_BAD_SERVER;
    portSep = s.find(':', host);
    serverEnd = std::min(portSep, s.size());
  }
  if (serverEnd == serverStart) return URL_BAD_SERVER;
  for (std::size_t cut : {passwordSep, at, portSep, open, close}) {
    if (cut != npos) authority[cut] = '\0';
  }
  put(server, authority + serverStart);
  put(port, portSep != npos ? authority + portSep + 1 : nullptr);
  put(login, at != npos ? authority : nullptr);
  put(password, passwordSep != npos ? authority + passwordSep + 1 : nullptr);
  return URL_OK;
}

// The last '/' ends the directory (none when it is the path's first
// character); the first ';' of the file name starts the modifier. A path
// without a directory must name a file.
int url_parse_path(char* path, char** directory, char** filename, char** modifier) {
  if (path == nullptr || *path == '\0') return URL_BAD_PATH;
  string_view s(path);
  std::size_t slash = s.rfind('/');
  std::size_t fileStart = slash != npos ? slash + 1 : 0;
  std::size_t semi = s.find(';', fileStart);
  bool hasDirectory = slash != npos && slash != 0;
  bool fileNamed = std::min(semi, s.size()) > fileStart;
  if (!hasDirectory && !fileNamed) return URL_BAD_PATH;
  if (slash != npos) path[slash] = '\0';
  if (semi != npos) path[semi] = '\0';
  put(directory, hasDirectory ? path : nullptr);
  put(filename, semi != fileStart ? path + fileStart : nullptr);
  put(modifier, semi != npos ? path + semi + 1 : nullptr);
  return URL_OK;
}

int url_parse(char* copy, UrlParts* parts) {
  if (parts == nullptr) return URL_BAD_RECEPTACLE;
  UrlParts p{};
  if (int rc = url_split(copy, &p.scheme, &p.authority, &p.path, &p.query, &p.fragment); rc != URL_OK) return rc;
  if (int rc = url_parse_authority(p.authority, &p.server, &p.port, &p.login, &p.password); rc != URL_OK) return rc;
  if (int rc = url_parse_path(p.path, &p.directory, &p.filename, &p.modifier); rc != URL_OK) return rc;
  *parts = p;
  return URL_OK;
}

// A line end or other control character would end or garble the switch
// command the URL's parts are typed into, so it is refused wherever it
// stands, even beyond the 511 characters the grammar is judged on.
int url_validate_as(const char* url, unsigned scheme) {
  if (url != nullptr && has_control_character(url)) return URL_BAD_SYNTAX;
  char work[URL_WORK_SIZE];
  copy_cut(work, sizeof work, url != nullptr ? string_view(url) : string_view());
  UrlParts p{};
  if (int rc = url_parse(work, &p); rc != URL_OK) return rc;
  const SchemeRule* rule = rule_for(scheme);
  if (rule == nullptr) return URL_BAD_SCHEME_SYNTAX;
  if (std::strcmp(p.scheme, rule->lower) != 0 && std::strcmp(p.scheme, rule->upper) != 0) return URL_INV_SCHEME;
  if (p.password != nullptr && (p.login == nullptr || !rule->passwordAllowed)) return URL_INV_LOGIN;
  if (p.login != nullptr && !rule->loginAllowed) return URL_INV_LOGIN;
  if (p.query != nullptr) return URL_INV_QUERY;
  if (p.fragment != nullptr) return URL_INV_FRAGMENT;
  if (p.modifier != nullptr) return URL_INV_MODIFIER;
  return URL_OK;
}

int url_validate(const char* url, unsigned accepted) {
  if (url == nullptr || *url == '\0') return URL_BAD_SYNTAX;
  unsigned bit = url_scheme_type(url);
  if (bit == 0) return URL_BAD_SCHEME_SYNTAX;
  if ((bit & accepted) == 0) return URL_INV_SCHEME;
  return url_validate_as(url, bit);
}

int url_get_scheme(const char* url, char* buf, std::size_t size) {
  return get_whole(url, buf, size, scheme_of);
}

int url_get_authority(const char* url, char* buf, std::size_t size) {
  return get_whole(url, buf, size, authority_of);
}

int url_get_path(const char* url, char* buf, std::size_t size) {
  return get_whole(url, buf, size, path_of);
}

int url_get_query(const char* url, char* buf, std::size_t size) {
  return get_whole(url, buf, size, query_of);
}

int url_get_fragment(const char* url, char* buf, std::size_t size) {
  return get_whole(url, buf, size, fragment_of);
}

int url_get_server(const char* url, char* buf, std::size_t size) {
  return get_authority_part(url, buf, size, SERVER);
}

int url_get_port(const char* url, char* buf, std::size_t size) {
  return get_authority_part(url, buf, size, PORT);
}

int url_get_login(const char* url, char* buf, std::size_t size) {
  return get_authority_part(url, buf, size, LOGIN);
}

int url_get_password(const char* url, char* buf, std::size_t size) {
  return get_authority_part(url, buf, size, PASSWORD);
}

int url_get_directory(const char* url, char* buf, std::size_t size) {
  return get_path_part(url, buf, size, DIRECTORY);
}

int url_get_filename(const char* url, char* buf, std::size_t size) {
  return get_path_part(url, buf, size, FILENAME);
}

int url_get_modifier(const char* url, char* buf, std::size_t size) {
  return get_path_part(url, buf, size, MODIFIER);
}

namespace {

// snprintf into buf; on a text that does not fit, buf is emptied (no cut
// composition, which could end inside a password, is left behind) and null returned.
template <typename... Args>
char* format_whole(char* buf, std::size_t size, const char* format, Args... args) {
  int n = std::snprintf(buf, size, format, args...);
  if (n >= 0 && static_cast<std::size_t>(n) < size) return buf;
  buf[0] = '\0';
  return nullptr;
}

}  // namespace

char* url_compose(char* buf, std::size_t size, const char* scheme, const char* authority, const char* path,
                  const char* query, const char* fragment) {
  if (buf == nullptr || size == 0 || scheme == nullptr || authority == nullptr || path == nullptr) return nullptr;
  const char* slash = path[0] == '/' ? "" : "/";
  const char* querySep = query == nullptr || query[0] == '?' ? "" : "?";
  const char* fragmentSep = fragment == nullptr || fragment[0] == '#' ? "" : "#";
  return format_whole(buf, size, "%s://%s%s%s%s%s%s%s", scheme, authority, slash, path, querySep,
                      query != nullptr ? query : "", fragmentSep, fragment != nullptr ? fragment : "");
}

char* url_compose_authority(char* buf, std::size_t size, const char* server, const char* port, const char* login,
                            const char* password) {
  if (buf == nullptr || size == 0 || server == nullptr) return nullptr;
  bool hasLogin = login != nullptr && login[0] != '\0';
  if (password != nullptr && !hasLogin) return nullptr;
  bool bracket = std::strchr(server, ':') != nullptr;
  return format_whole(buf, size, "%s%s%s%s%s%s%s%s%s", hasLogin ? login : "", password != nullptr ? ":" : "",
                      password != nullptr ? password : "", hasLogin ? "@" : "", bracket ? "[" : "", server,
                      bracket ? "]" : "", port != nullptr ? ":" : "", port != nullptr ? port : "");
}

bool url_slashed_password(const char* url, std::size_t* from, std::size_t* length) {
  if (url == nullptr) return false;
  const string_view s(url);
  const string_view authority = authority_region(s);
  const std::size_t colon = authority.find(':');
  if (colon == npos || authority.find('@') != npos) return false;
  const std::size_t start = static_cast<std::size_t>(authority.data() - s.data());
  const std::size_t slash = start + authority.size();
  const std::size_t at = s.rfind('@');
  if (slash >= s.size() || at == npos || at < slash || at + 1 == s.size()) return false;
  if (from != nullptr) *from = start + colon + 1;
  if (length != nullptr) *length = at - (start + colon + 1);
  return true;
}

// Masks in the URL's own text rather than re-composing it from its parts:
// the result is the same for a well-formed URL, and it also hides the
// password of a URL that does not parse or whose re-composition would not fit.
char* url_mask_password(const char* url, char* buf, std::size_t size) {
  if (buf == nullptr || size == 0) return nullptr;
  string_view s = url != nullptr ? string_view(url) : string_view();
  copy_cut(buf, std::min(size, URL_WORK_SIZE), s);
  string_view authority = authority_region(s);
  std::size_t at = authority.rfind('@');
  std::size_t colon = authority.find(':');
  if (at == npos || colon == npos || colon > at) return buf;
  std::size_t shown = std::strlen(buf);
  std::size_t from = static_cast<std::size_t>(authority.data() - s.data()) + colon + 1;
  std::size_t to = std::min(from + (at - colon - 1), shown);
  if (from < to) std::memset(buf + from, '*', to - from);
  return buf;
}

namespace modburn {

int UrlPieces::read(const char* url) {
  int (*const getters[])(const char*, char*, std::size_t) = {url_get_scheme, url_get_server, url_get_port,
                                                             url_get_login, url_get_password, url_get_path,
                                                             url_get_directory, url_get_filename};
  Text* const parts[] = {&scheme, &server, &port, &login, &password, &path, &directory, &filename};
  for (std::size_t i = 0; i < std::size(parts); ++i) {
    if (const int rc = getters[i](url, parts[i]->data(), parts[i]->size()); rc != URL_OK) return rc;
  }
  url_mask_password(url, shown.data(), shown.size());
  return URL_OK;
}

}  // namespace modburn
