// A real OpenSSH server for the SSH console tests: the system's sshd, run
// with a host key, a configuration and a log of its own in a private folder,
// listening on loopback ports, whose forced command plays the simulator's
// scenario for the port a session reached (switchsim --stdio-map). Sessions
// log in as a test user with a password; the user is created on first use
// and kept. Nothing else outside the folder is changed, except the empty
// folder sshd itself requires (/run/sshd), made when missing.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

// One listening port of the server and the console it plays.
struct SshdConsole {
  int port = 0;
  std::string scenario{};      // scenario text
  bool password_auth = true;   // the password method; keyboard-interactive is always offered
  // A bundled scenario instead of text ("brocade/success-reboot.scn", as
  // switchsim::scenario_path names it); its includes come along.
  std::string scenario_file{};
  // The fault of each session is read as it starts (set_fault).
  bool faults = false;
};

class SshdServer {
 public:
  SshdServer() = default;
  ~SshdServer();  // stops the server and removes its folder
  SshdServer(const SshdServer&) = delete;
  SshdServer& operator=(const SshdServer&) = delete;

  // Why the tests cannot run here (sshd is not installed), or empty.
  static std::string missing();
  // The test user and its password.
  static const char* user();
  static const char* password();

  // Starts sshd on address (a loopback address) with one port per console;
  // false with error set when anything fails.
  bool start(const std::string& address, const std::vector<SshdConsole>& consoles, std::string& error);
  // Stops sshd (its listener; sessions end with their clients).
  void stop();
  // The fault the next sessions on port commit (a console with faults):
  // "close 3", "stall 2 2000" (switchsim::read_fault_file); "" for none.
  bool set_fault(int port, const std::string& fault) const;

  const std::string& address() const { return address_; }
  const std::string& folder() const { return dir_; }
  // The host key: its public line ("ssh-ed25519 AAAA...") and its SHA256
  // fingerprint ("SHA256:...").
  const std::string& host_key() const { return host_key_; }
  const std::string& fingerprint() const { return fingerprint_; }
  // Everything sshd has logged so far (LogLevel DEBUG1).
  std::string log() const;
  // The transcripts of the sessions so far, one text per session.
  std::vector<std::string> transcripts() const;
  // Waits up to ms for n transcripts that each end with "= end ...";
  // returns the transcripts then.
  std::vector<std::string> wait_transcripts(std::size_t n, int ms) const;

 private:
  std::string address_;
  std::string dir_;
  std::string host_key_;
  std::string fingerprint_;
  pid_t pid_ = -1;
};

// A known_hosts file of a test's own, in a new folder, set for the process
// with the strict policy; when it ends, the default file and policy come
// back and the folder goes.
class KnownHostsFolder {
 public:
  KnownHostsFolder() = default;
  ~KnownHostsFolder();
  KnownHostsFolder(const KnownHostsFolder&) = delete;
  KnownHostsFolder& operator=(const KnownHostsFolder&) = delete;

  // Makes the folder and sets its file; false when the folder cannot be made.
  bool make();
  const std::string& folder() const { return dir_; }
  const std::string& file() const { return file_; }

 private:
  std::string dir_;
  std::string file_;
};

// 127.B.C.D from the process id, B counted from net (net to net + 63): test
// processes running at once have servers of their own.
std::string pid_address(int net);

// Runs program with args and text on its standard input; its standard output
// in out. The exit status (-1 when it could not run).
int run_program(const std::vector<std::string>& argv, const std::string& input, std::string* out = nullptr);

}  // namespace testsupport
