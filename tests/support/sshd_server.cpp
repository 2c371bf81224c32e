#include "support/sshd_server.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "simulator.h"
#include "support/telnetd_console.h"
#include "telnet/ssh.h"

extern char** environ;

namespace testsupport {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kUser[] = "modburnssh";
// Made for these tests only; it contains no piece that log lines hold
// anyway, so that a test can look for any piece of it.
constexpr char kPassword[] = "Qx7-vL2m-Zr9k";
constexpr int kStartWaitMs = 10000;
// Upper bound on the server's life, whatever becomes of the test process.
constexpr const char* kServerLifetimeSecs = "600";
// How often the account tools are tried while another test process holds
// the password file's lock.
constexpr int kAccountTries = 100;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool write_file(const std::string& path, const std::string& text, mode_t mode) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) return false;
  }
  return chmod(path.c_str(), mode) == 0;
}

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The test user exists with the test password. Other test processes may do
// the same at once: the account tools then fail on the password file's lock
// for a moment and are tried again.
bool ensure_user(std::string& error) {
  for (int i = 0; i < kAccountTries && getpwnam(kUser) == nullptr; ++i) {
    run_program({"useradd", "-M", "-d", "/", "-s", "/bin/sh", "-c", "modburn SSH console tests", kUser}, "");
    if (getpwnam(kUser) == nullptr) sleep_ms(50);
  }
  if (getpwnam(kUser) == nullptr) {
    error = std::string("cannot create the test user ") + kUser;
    return false;
  }
  const std::string line = std::string(kUser) + ":" + kPassword + "\n";
  for (int i = 0; i < kAccountTries; ++i) {
    // A quick hash: every session checks it, and many sessions start at once.
    if (run_program({"chpasswd", "-c", "SHA512", "-s", "1000"}, line) == 0) return true;
    sleep_ms(50);
  }
  error = std::string("cannot set the password of ") + kUser;
  return false;
}

std::string config_text(const std::string& dir, const std::string& address,
                        const std::vector<SshdConsole>& consoles) {
  std::string text;
  for (const SshdConsole& c : consoles) text += "ListenAddress " + address + ":" + std::to_string(c.port) + "\n";
  text += "HostKey " + dir + "/host_ed25519\n"
          "PidFile none\n"
          "UsePAM yes\n"
          "PasswordAuthentication yes\n"
          "KbdInteractiveAuthentication yes\n"
          "PubkeyAuthentication no\n"
          "AuthorizedKeysFile none\n"
          "PermitRootLogin no\n"
          "AllowUsers " + std::string(kUser) + "\n"
          "StrictModes no\n"
          "PrintMotd no\n"
          "PrintLastLog no\n"
          "UseDNS no\n"
          // Many sessions at once start together (a fleet, a benchmark).
          "MaxStartups 2000\n"
          "LoginGraceTime 30\n"
          "X11Forwarding no\n"
          "AllowTcpForwarding no\n"
          "LogLevel DEBUG1\n"
          // A sanitized build's leak check at the end of a program that sshd
          // started as another user never finishes: it is left out there.
          "ForceCommand ASAN_OPTIONS=detect_leaks=0 " + dir + "/switchsim --stdio-map " + dir +
          "/consoles.map --transcript-dir " + dir + "/transcripts\n";
  std::string kbdOnly;
  for (const SshdConsole& c : consoles) {
    if (c.password_auth) continue;
    kbdOnly += (kbdOnly.empty() ? "" : ",") + std::to_string(c.port);
  }
  if (!kbdOnly.empty()) text += "Match LocalPort " + kbdOnly + "\n  PasswordAuthentication no\n";
  return text;
}

std::string fault_file(int port) { return "console-" + std::to_string(port) + ".fault"; }

// The console files: a scenario per port (the bundled scenarios copied
// whole when a console plays one of them) and the map that picks it.
bool write_consoles(const std::string& dir, const std::vector<SshdConsole>& consoles, std::string& error) {
  std::string map;
  std::error_code ec;
  bool bundled = false;
  for (const SshdConsole& c : consoles) {
    std::string name = "console-" + std::to_string(c.port) + ".scn";
    if (!c.scenario_file.empty()) {
      name = "scenarios/" + c.scenario_file;
      bundled = true;
    } else if (!write_file(dir + "/" + name, c.scenario, 0644)) {
      error = "cannot write " + name;
      return false;
    }
    map += "port:" + std::to_string(c.port) + " " + name;
    if (c.faults) map += " faults:" + fault_file(c.port);
    map += "\n";
  }
  if (bundled) {
    fs::copy(switchsim::scenario_path(""), dir + "/scenarios", fs::copy_options::recursive, ec);
    if (ec) {
      error = "cannot copy the bundled scenarios: " + ec.message();
      return false;
    }
  }
  // The user the sessions run as must reach the program and its files.
  fs::copy_file(MODBURN_SWITCHSIM, dir + "/switchsim", ec);
  if (ec || chmod((dir + "/switchsim").c_str(), 0755) != 0) {
    error = "cannot copy " + std::string(MODBURN_SWITCHSIM) + ": " + ec.message();
    return false;
  }
  if (mkdir((dir + "/transcripts").c_str(), 0777) != 0 || chmod((dir + "/transcripts").c_str(), 0777) != 0) {
    error = "cannot make the transcript folder";
    return false;
  }
  if (!write_file(dir + "/consoles.map", map, 0644)) {
    error = "cannot write the console map";
    return false;
  }
  return true;
}

bool make_host_key(const std::string& dir, std::string& key, std::string& fingerprint, std::string& error) {
  const std::string path = dir + "/host_ed25519";
  if (run_program({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "modburn-test", "-f", path}, "") != 0) {
    error = "ssh-keygen failed";
    return false;
  }
  std::istringstream pub(read_file(path + ".pub"));
  std::string type, blob;
  pub >> type >> blob;
  key = type + " " + blob;
  std::string listing;
  run_program({"ssh-keygen", "-l", "-E", "sha256", "-f", path + ".pub"}, "", &listing);
  std::istringstream fields(listing);
  std::string bits;
  fields >> bits >> fingerprint;
  if (blob.empty() || fingerprint.rfind("SHA256:", 0) != 0) {
    error = "cannot read the host key";
    return false;
  }
  return true;
}

}  // namespace

std::string pid_address(int net) {
  const unsigned pid = static_cast<unsigned>(getpid());
  return "127." + std::to_string(net + static_cast<int>((pid >> 16) & 63)) + "." + std::to_string((pid >> 8) & 255) +
         "." + std::to_string(pid & 255);
}

int run_program(const std::vector<std::string>& argv, const std::string& input, std::string* out) {
  int in[2], from[2];
  if (pipe2(in, O_CLOEXEC) != 0) return -1;
  if (pipe2(from, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, from[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(from[1]);
  if (rc == 0 && !input.empty()) {
    [[maybe_unused]] const ssize_t n = write(in[1], input.data(), input.size());
  }
  close(in[1]);
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = read(from[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
  close(from[0]);
  if (out != nullptr) *out = text;
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SshdServer::missing() {
  if (find_program("sshd", {"/usr/sbin/sshd"}).empty()) return "sshd is not installed (openssh-server)";
  return "";
}

const char* SshdServer::user() { return kUser; }
const char* SshdServer::password() { return kPassword; }

SshdServer::~SshdServer() {
  stop();
  if (!dir_.empty()) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
}

bool SshdServer::start(const std::string& address, const std::vector<SshdConsole>& consoles, std::string& error) {
  address_ = address;
  char tmpl[] = "/tmp/modburn-sshd-XXXXXX";
  if (mkdtemp(tmpl) == nullptr || chmod(tmpl, 0755) != 0) {
    error = "cannot make a folder";
    return false;
  }
  dir_ = tmpl;
  if (!ensure_user(error) || !make_host_key(dir_, host_key_, fingerprint_, error) ||
      !write_consoles(dir_, consoles, error) ||
      !write_file(dir_ + "/sshd_config", config_text(dir_, address, consoles), 0644)) {
    if (error.empty()) error = "cannot write the configuration";
    return false;
  }
  // sshd refuses to start without its privilege separation folder.
  mkdir("/run/sshd", 0755);

  const std::string sshd = find_program("sshd", {"/usr/sbin/sshd"});
  const std::string config = dir_ + "/sshd_config";
  const std::string logFile = dir_ + "/sshd.log";
  // Under a time limit, so that a server whose test died stops by itself;
  // timeout passes the stop signal on to it.
  const std::string timeout = find_program("timeout", {"/usr/bin/timeout"});
  std::vector<std::string> argv{timeout, "-k", "5", kServerLifetimeSecs, sshd, "-D", "-f", config, "-E", logFile};
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd <= 2; ++fd) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
  const int rc = posix_spawn(&pid_, timeout.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    error = "cannot start " + sshd;
    return false;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(kStartWaitMs);
  for (;;) {
    const std::string text = log();
    bool all = true;
    for (const SshdConsole& c : consoles) {
      all = all && text.find("Server listening on " + address + " port " + std::to_string(c.port) + ".") !=
                       std::string::npos;
    }
    if (all) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error = "sshd ended: " + text;
      return false;
    }
    if (Clock::now() > deadline) {
      error = "sshd did not listen within " + std::to_string(kStartWaitMs) + " ms: " + text;
      return false;
    }
    sleep_ms(20);
  }
}

void SshdServer::stop() {
  if (pid_ < 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  for (int i = 0; i < 250 && waitpid(pid_, &status, WNOHANG) == 0; ++i) sleep_ms(20);
  if (waitpid(pid_, &status, WNOHANG) == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
}

bool SshdServer::set_fault(int port, const std::string& fault) const {
  // Written aside and renamed, so that a session starting meanwhile reads
  // the old fault or the new one, never half of it.
  const std::string path = dir_ + "/" + fault_file(port);
  return write_file(path + ".new", fault + "\n", 0644) && std::rename((path + ".new").c_str(), path.c_str()) == 0;
}

bool KnownHostsFolder::make() {
  char tmpl[] = "/tmp/modburn-known-hosts-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return false;
  dir_ = tmpl;
  file_ = dir_ + "/known_hosts";
  sshcon_setKnownHosts(file_.c_str());
  sshcon_setHostKeyPolicy(SSHCON_STRICT);
  return true;
}

KnownHostsFolder::~KnownHostsFolder() {
  if (dir_.empty()) return;
  sshcon_setKnownHosts(nullptr);
  sshcon_setHostKeyPolicy(SSHCON_STRICT);
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::string SshdServer::log() const { return read_file(dir_ + "/sshd.log"); }

std::vector<std::string> SshdServer::transcripts() const {
  std::vector<std::string> all;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir_ + "/transcripts", ec)) {
    if (entry.path().extension() == ".transcript") all.push_back(read_file(entry.path().string()));
  }
  return all;
}

std::vector<std::string> SshdServer::wait_transcripts(std::size_t n, int ms) const {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    std::vector<std::string> all = transcripts();
    std::size_t ended = 0;
    for (const std::string& t : all) ended += t.find("\n= end ") != std::string::npos ? 1 : 0;
    if (ended >= n || Clock::now() > deadline) return all;
    sleep_ms(20);
  }
}

}  // namespace testsupport
