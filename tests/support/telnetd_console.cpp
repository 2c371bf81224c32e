#include "support/telnetd_console.h"

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
#include <vector>

#include "support/scripted_server.h"

extern char** environ;

namespace testsupport {
namespace {

// Upper bound on the life of the server group, whatever the test does.
constexpr const char* SERVER_LIFETIME_SECS = "30";
constexpr int LISTEN_WAIT_MS = 5000;

bool isExecutable(const std::string& path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

// Whether something listens on 127.0.0.1:port (state 0A in /proc/net/tcp).
bool listeningOn(int port) {
  std::ifstream tcp("/proc/net/tcp");
  char local[32];
  std::snprintf(local, sizeof local, "0100007F:%04X", port);
  std::string line;
  while (std::getline(tcp, line)) {
    std::istringstream fields(line);
    std::string slot, addr, remote, state;
    fields >> slot >> addr >> remote >> state;
    if (addr == local && state == "0A") return true;
  }
  return false;
}

}  // namespace

std::string find_program(const std::string& name, std::initializer_list<const char*> candidates) {
  for (const char* c : candidates) {
    if (isExecutable(c)) return c;
  }
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string full = dir + "/" + name;
    if (isExecutable(full)) return full;
  }
  return {};
}

TelnetdConsole::TelnetdConsole(const std::string& consoleScript) {
  const std::string socat = find_program("socat", {"/usr/bin/socat"});
  const std::string telnetd = find_program("telnetd", {"/usr/sbin/telnetd"});
  const std::string timeout = find_program("timeout", {"/usr/bin/timeout"});
  if (socat.empty()) problem_ += "socat is missing (scripts/setup.sh installs it); ";
  if (telnetd.empty()) problem_ += "telnetd is missing (package inetutils-telnetd); ";
  if (timeout.empty()) problem_ += "timeout is missing; ";
  if (!problem_.empty()) return;

  char tmpl[] = "/tmp/modburn-telnetd-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) {
    problem_ = "cannot make a temporary folder";
    return;
  }
  dir_ = tmpl;
  const std::string script = dir_ + "/console.sh";
  {
    std::ofstream out(script);
    out << consoleScript;
  }
  chmod(script.c_str(), 0755);

  port_ = refused_port();
  const std::string listen = "TCP-LISTEN:" + std::to_string(port_) + ",bind=127.0.0.1,reuseaddr";
  const std::string exec = "EXEC:" + telnetd + " -h -E " + script + ",nofork";
  std::vector<std::string> args = {timeout, SERVER_LIFETIME_SECS, socat, listen, exec};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, timeout.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    pid_ = -1;
    problem_ = "cannot start socat";
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(LISTEN_WAIT_MS);
  while (!listeningOn(port_)) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      problem_ = "socat ended before listening on port " + std::to_string(port_);
      return;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      problem_ = "socat did not start listening on port " + std::to_string(port_);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TelnetdConsole::~TelnetdConsole() {
  if (pid_ > 0) {
    // Give the server a moment to end on its own after the client closed.
    bool ended = false;
    for (int i = 0; i < 50 && !ended; ++i) {
      ended = waitpid(pid_, nullptr, WNOHANG) == pid_;
      if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!ended) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
}

}  // namespace testsupport
