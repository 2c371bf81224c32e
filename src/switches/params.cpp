#include "switches/params.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/addr.h"
#include "core/iostatus.h"
#include "telnet/ssh.h"

namespace modburn {
namespace {

// Class of a host name (not an address literal) from io_classifyAddr.
constexpr int ADDR_HOST_NAME = 3;

bool missing(const char* text) { return text == nullptr || text[0] == '\0'; }

bool hasControl(std::string_view text) {
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) return true;
  }
  return false;
}

}  // namespace

int check_address(const char* targetip, const ParamRules& rules) {
  if (targetip == nullptr) return IO_INV_IP;
  const char* sshRest = sshcon_addressRest(targetip);
  if (sshRest != nullptr && rules.noSsh) return IO_INV_IP;
  std::array<char, 200> copy{};
  std::snprintf(copy.data(), copy.size(), "%s", sshRest != nullptr ? sshRest : targetip);
  char* portText = nullptr;
  const int cls = io_classifyAddr(copy.data(), nullptr, &portText, nullptr);
  if (cls < 0) return IO_INV_IP;
  if (cls == ADDR_HOST_NAME && rules.hostNameRefused) return IO_INV_URL_HOST;
  // The port of an ssh:// address is the SSH server's, not the TELNET console's.
  if (portText != nullptr && !rules.portAllowed && sshRest == nullptr) return IO_INV_IP;
  return 0;
}

void split_address(const char* targetip, ConsoleTarget& out) {
  const char* sshRest = sshcon_addressRest(targetip);
  out.ssh = sshRest != nullptr;
  std::snprintf(out.copy.data(), out.copy.size(), "%s", out.ssh ? sshRest : targetip);
  char* host = nullptr;
  out.port = 0;
  io_classifyAddr(out.copy.data(), &host, nullptr, &out.port);
  out.host = host != nullptr ? host : out.copy.data();
}

int check_host_key(const char* targetip, int timeoutMillis, char* key, int keySize, char* why, int whySize) {
  if (key != nullptr && keySize > 0) key[0] = '\0';
  if (why != nullptr && whySize > 0) why[0] = '\0';
  if (sshcon_addressRest(targetip) == nullptr || check_address(targetip, ParamRules{}) != 0) {
    if (why != nullptr && whySize > 0) std::snprintf(why, static_cast<std::size_t>(whySize), "no ssh:// address");
    return TELNET_BAD_HOST;
  }
  ConsoleTarget target;
  split_address(targetip, target);
  return sshcon_checkHostKey(target.host, target.port, timeoutMillis, key, keySize, why, whySize);
}

const char* address_advice(const char* targetip, const ParamRules& rules) {
  if (rules.noSsh && sshcon_addressRest(targetip) != nullptr) {
    return "this console has no SSH: give the switch's TELNET address (without ssh://)";
  }
  return nullptr;
}

int check_login(const char* user, const char* password) {
  if (missing(user) || missing(password)) return IO_INV_LOGIN;
  for (const std::string_view text : {std::string_view(user), std::string_view(password)}) {
    // Each is typed as one "%s\r\n" line: longer ones could only be typed cut.
    if (text.size() > kMaxLoginText || hasControl(text)) return IO_INV_LOGIN;
  }
  return 0;
}

int check_url(const char* fileurl, const ParamRules& rules) {
  if (missing(fileurl)) return IO_MISSING_URL;
  // A password holding '/' would be taken for a server and a port.
  if (url_slashed_password(fileurl, nullptr, nullptr)) return IO_INV_URL_LOGIN;
  const int u = url_validate(fileurl, rules.schemes);
  if (u == URL_INV_SCHEME || u == URL_BAD_SCHEME_SYNTAX) return IO_INV_URL_SCHEME;
  if (u != URL_OK) return IO_INV_URL_SYNTAX;
  // Only the first 511 characters are judged; a longer URL cannot be taken apart whole.
  if (std::strlen(fileurl) >= URL_WORK_SIZE) return IO_INV_URL_SYNTAX;
  if (rules.plainTypedParts || rules.plainPassword) {
    const int rc = url_typed_parts_plain(fileurl, rules.plainPassword);
    if (rc != 0) return rc;
  }
  return rules.urlRule != nullptr ? rules.urlRule(fileurl) : 0;
}

int check_params(const SwitchRequest* req, const ParamRules& rules) {
  if (req == nullptr) return IO_BAD_PARAMS;
  if (const int rc = check_address(req->targetip, rules); rc != 0) return rc;
  if (const int rc = check_login(req->user, req->password); rc != 0) return rc;
  const bool versionsOnly = req->versions != nullptr;  // no URL to judge
  if (!versionsOnly) {
    if (const int rc = check_url(req->fileurl, rules); rc != 0) return rc;
  }
  if (req->debugLevel < 0 || req->debugLevel > 2) return IO_BAD_PARAMS;
  return rules.lastRule != nullptr ? rules.lastRule(*req) : 0;
}

bool plain_text(std::string_view text) {
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F || c == '"') return false;
  }
  return true;
}

bool plain_server(std::string_view server) {
  if (server.empty()) return false;
  const bool v6 = server.find(':') != std::string_view::npos;
  for (const char c : server) {
    const auto b = static_cast<unsigned char>(c);
    if (std::isxdigit(b) || c == '.' || (v6 && c == ':')) continue;
    if (!v6 && (std::isalnum(b) || c == '-' || c == '_')) continue;
    return false;
  }
  return true;
}

int url_typed_parts_plain(const char* fileurl, bool withPassword) {
  UrlPieces u;
  if (u.read(fileurl) != URL_OK) return IO_INV_URL_SYNTAX;
  if (!plain_server(u.server.data())) return IO_INV_URL_SYNTAX;
  for (const auto* part : {&u.port, &u.login, &u.directory, &u.filename}) {
    if (!plain_text(part->data())) return IO_INV_URL_SYNTAX;
  }
  if (withPassword && !plain_text(u.password.data())) return IO_INV_URL_LOGIN;
  return 0;
}

int url_needs_login(const char* fileurl) {
  std::array<char, 100> login{};
  if (url_get_login(fileurl, login.data(), login.size()) != URL_OK) return IO_INV_URL_SYNTAX;
  return login[0] == '\0' ? IO_INV_URL_LOGIN : 0;
}

int ftp_url_needs_login(const char* fileurl) {
  return url_scheme_type(fileurl) == URL_SCHEME_FTP ? url_needs_login(fileurl) : 0;
}

int url_scheme_lower_case(const char* fileurl) {
  for (const char* p = fileurl; *p != '\0' && *p != ':'; ++p) {
    if (std::isupper(static_cast<unsigned char>(*p))) return IO_INV_URL_SCHEME;
  }
  return 0;
}

int tftp_parts_rule(const UrlPieces& u) {
  constexpr std::size_t kServerMax = 99, kDirectoryMax = 199, kFileMax = 99;
  const std::string_view port = u.port.data();
  if (!port.empty() && port != "69") return IO_INV_URL_SYNTAX;
  const std::size_t file = std::strlen(u.filename.data());
  const bool within = std::strlen(u.server.data()) <= kServerMax && std::strlen(u.directory.data()) <= kDirectoryMax &&
                      file > 0 && file <= kFileMax;
  return within ? 0 : IO_INV_URL_SYNTAX;
}

}  // namespace modburn
