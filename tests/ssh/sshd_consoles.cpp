// The SSH consoles of every family that offers SSH, on a real sshd, for tests
// that drive them from outside this process (the command-line tool):
//
//   sshd_consoles FOLDER
//
// writes the switch password and the firmware server's password into
// FOLDER/switch.pw and FOLDER/url.pw (mode 0600), starts the server on a
// loopback address of its own and prints
//
//   address 127.B.C.D
//   user USER
//   hostkey ssh-ed25519 AAAA...
//   fingerprint SHA256:...
//   console FAMILY PORT yes|no MODIFIER URL      (one per family; the URL without its password)
//   ready
//
// then keeps the server until its standard input closes. Where sshd is
// missing it prints "skip: why" and exits 77; on any other failure "error:
// why" and 1.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <string>

#include "ssh/family_consoles.h"
#include "support/sshd_server.h"
#include "url/url.h"

namespace {

constexpr int kFirstPort = 42301;  // on an address of this program's own
constexpr int kAddressNet = 30;    // 127.30.x.y to 127.93.x.y
constexpr int kSkipped = 77;

// The secret and a line end, in a file only its owner may read.
bool writeSecret(const std::string& path, const std::string& secret) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const std::string text = secret + "\n";
  const bool ok = fchmod(fd, 0600) == 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return close(fd) == 0 && ok;
}

// The URL as an operator gives it: the password left out ("ftp://login@server/...").
std::string withoutPassword(const std::string& url) {
  char password[URL_WORK_SIZE] = "";
  if (url_get_password(url.c_str(), password, sizeof password) != URL_OK || password[0] == '\0') return url;
  std::string shown = url;
  const std::size_t at = shown.find(std::string(":") + password + "@");
  if (at != std::string::npos) shown.erase(at, std::char_traits<char>::length(password) + 1);
  return shown;
}

int fail(const std::string& why) {
  std::cout << "error: " << why << std::endl;
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: sshd_consoles FOLDER\n";
    return 2;
  }
  const std::string why = testsupport::SshdServer::missing();
  if (!why.empty()) {
    std::cout << "skip: " << why << std::endl;
    return kSkipped;
  }
  const std::string folder = argv[1];
  if (!writeSecret(folder + "/switch.pw", testsupport::SshdServer::password()) ||
      !writeSecret(folder + "/url.pw", switchtest::kUrlPassword)) {
    return fail("cannot write the password files in " + folder);
  }
  testsupport::SshdServer server;
  std::string error;
  if (!server.start(testsupport::pid_address(kAddressNet), sshtest::familyConsoles(kFirstPort, false), error)) {
    return fail(error);
  }
  std::cout << "address " << server.address() << "\n"
            << "user " << testsupport::SshdServer::user() << "\n"
            << "hostkey " << server.host_key() << "\n"
            << "fingerprint " << server.fingerprint() << "\n";
  for (const sshtest::FamilyRow& f : switchtest::kFamilies) {
    if (!sshtest::offersSsh(f)) continue;
    std::cout << "console " << f.family << " " << sshtest::portOf(f.family, kFirstPort) << " "
              << (f.reboot ? "yes" : "no") << " " << f.modifier << " " << withoutPassword(f.url) << "\n";
  }
  std::cout << "ready" << std::endl;
  // Until whoever started this closes our input (or dies).
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  server.stop();
  return 0;
}
