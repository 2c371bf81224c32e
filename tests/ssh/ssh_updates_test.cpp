// Whole updates over SSH consoles: every family that offers SSH runs its
// normal update through its module entry against a real OpenSSH server whose
// forced command plays the family's bundled scenario, and types what it types
// over TELNET less the console's own login; the frame's refusals (host keys,
// the password, a family without SSH); sessions cut after typed lines; and no
// piece of a password in the log at any level.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "com/timescale.h"
#include "core/iostatus.h"
#include "simulator.h"
#include "ssh/family_consoles.h"
#include "support/sshd_server.h"
#include "switches/families.h"
#include "switches/fixture.h"
#include "switches/modules.h"
#include "switches/secret_pieces.h"
#include "telnet/ssh.h"

namespace {

using testsupport::SshdServer;
using switchtest::FamilyRow;
using Clock = std::chrono::steady_clock;

constexpr int kFirstPort = 42301;  // one port per family of kFamilies, in its order

int portOf(std::string_view family) { return sshtest::portOf(family, kFirstPort); }
using sshtest::familyRow;

// The lines a transcript shows typed ("< ..."), unescaped, line ends left out.
std::vector<std::string> typedLines(const std::string& transcript) {
  std::vector<std::string> lines;
  std::istringstream in(transcript);
  std::string line, bytes, error;
  while (std::getline(in, line)) {
    if (line.rfind("< ", 0) != 0 || !switchsim::unescape(line.substr(2), bytes, error)) continue;
    lines.emplace_back(switchsim::line_text(bytes));
  }
  return lines;
}

class SshUpdates : public switchtest::LogCapture {
 protected:
  static void SetUpTestSuite() {
    if (!SshdServer::missing().empty()) return;
    server_ = new SshdServer;
    if (!server_->start(testsupport::pid_address(170), sshtest::familyConsoles(kFirstPort, true), startError_)) startError_ += " (folder " + server_->folder() + ")";
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    const std::string why = SshdServer::missing();
    if (!why.empty()) GTEST_SKIP() << why;
    ASSERT_TRUE(startError_.empty()) << startError_;
    switchtest::LogCapture::SetUp();
    ASSERT_TRUE(known_.make());
    knownHosts_ = known_.file();
    // The scenarios' long waits (a reload's seconds) shortened.
    modburn::set_time_scale(0.05);
    modburn::set_gap_scale(0.2);
  }

  void TearDown() override {
    if (knownHosts_.empty()) return;
    switchtest::LogCapture::TearDown();
    for (const FamilyRow& f : switchtest::kFamilies) server_->set_fault(portOf(f.family), "");
  }

  static std::string address(int port) { return "ssh://" + server_->address() + ":" + std::to_string(port); }
  static std::string knownName(int port) { return "[" + server_->address() + "]:" + std::to_string(port); }

  // The known_hosts file holds the server's key for these ports (none: empty).
  void trust(const std::vector<int>& ports, const std::string& key) const {
    std::ofstream out(knownHosts_, std::ios::trunc);
    for (const int port : ports) out << knownName(port) << " " << key << "\n";
  }
  void trustAll() const {
    std::vector<int> ports;
    for (const FamilyRow& f : switchtest::kFamilies) ports.push_back(portOf(f.family));
    trust(ports, server_->host_key());
  }
  std::string knownHostsText() const {
    std::ifstream in(knownHosts_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  struct Update {
    int rc = 0;
    std::string err;
  };
  // Runs the family's normal update on targetip at debugLevel.
  static Update update(const FamilyRow& f, const std::string& targetip, const char* password, int debugLevel = 2) {
    SwitchRequest req{targetip.c_str(), SshdServer::user(), password, f.url, f.reboot, debugLevel, f.modifier};
    char err[1000] = "";
    Update u;
    u.rc = f.entry(&req, err, sizeof err);
    u.err = err;
    return u;
  }

  // The transcripts of the sessions that began since before was taken, once
  // n of them have ended (or ms have passed).
  static std::vector<std::string> newTranscripts(const std::vector<std::string>& before, std::size_t n, int ms = 10000) {
    const std::set<std::string> old(before.begin(), before.end());
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      std::vector<std::string> fresh;
      std::size_t ended = 0;
      for (const std::string& t : server_->transcripts()) {
        bool seen = false;
        for (const std::string& o : old) seen = seen || t.rfind(o.substr(0, o.find('\n')), 0) == 0;
        if (seen) continue;
        fresh.push_back(t);
        ended += t.find("\n= end ") != std::string::npos ? 1 : 0;
      }
      if (ended >= n || Clock::now() > deadline) return fresh;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  static inline SshdServer* server_ = nullptr;
  static inline std::string startError_;
  testsupport::KnownHostsFolder known_;
  std::string knownHosts_;
};

// --- Every family's update ------------------------------------------------------------

struct UpdateRow {
  const char* family;
  // How many lines the TELNET dialogue types before the console's first
  // words (user name and password, or the password alone): the SSH server
  // takes them instead, and the console never sees them.
  std::size_t consoleLoginLines;
};

TEST_F(SshUpdates, EveryFamilyOfferingSshUpdatesOverIt) {
  const UpdateRow rows[] = {
      {"brocade", 2}, {"cisco", 2}, {"intel", 2},  {"sas", 2},    {"nortel", 2},
      {"ciscofc", 2}, {"topspin", 2}, {"qlogic", 2}, {"mcdata", 2}, {"ibbridge", 2},
  };
  trustAll();
  for (const UpdateRow& row : rows) {
    const FamilyRow& f = familyRow(row.family);
    SCOPED_TRACE(row.family);
    // The same update over TELNET (the scenarios' user, the same password), for the lines it types.
    switchsim::Scenario sc;
    std::string error;
    ASSERT_TRUE(switchtest::loadNormal(f, sc, error)) << error;
    switchsim::SimOptions opts;
    const std::string telnetAddress = switchtest::testAddress(203);
    SwitchRequest req{telnetAddress.c_str(), opts.user.c_str(), SshdServer::password(), f.url, f.reboot, 1,
                      f.modifier};
    switchsim::SimulatedSwitch sw;
    opts.accept_timeout_ms = 20000;
    ASSERT_TRUE(sw.start(telnetAddress, 23, sc, opts, &error)) << error;
    char err[1000] = "";
    ASSERT_EQ(f.entry(&req, err, sizeof err), 0) << err;
    const std::vector<std::string> overTelnet = sw.wait().lines();
    ASSERT_GT(overTelnet.size(), row.consoleLoginLines);
    // The lines left out are the login's.
    if (row.consoleLoginLines == 2) {
      EXPECT_EQ(overTelnet[0], opts.user);
    }
    EXPECT_EQ(overTelnet[row.consoleLoginLines - 1], SshdServer::password());

    const std::vector<std::string> before = server_->transcripts();
    const int descriptors = switchtest::openDescriptors();
    testsupport::capture_clear();
    const Update u = update(f, address(portOf(f.family)), SshdServer::password(), 1);
    EXPECT_EQ(u.rc, 0) << u.err << "\n" << logText();
    EXPECT_EQ(switchtest::openDescriptors(), descriptors) << "the session's descriptors are closed";
    const std::vector<std::string> fresh = newTranscripts(before, 1);
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_NE(fresh[0].find("= end completed"), std::string::npos) << fresh[0];
    const std::vector<std::string> expected(overTelnet.begin() + static_cast<long>(row.consoleLoginLines),
                                            overTelnet.end());
    EXPECT_EQ(typedLines(fresh[0]), expected) << fresh[0];
    // The connect names the transport and the host key at level 1.
    EXPECT_EQ(testsupport::capture_count(std::string(f.family) + "flash:connect:" + address(portOf(f.family)) +
                                         ": transport SSH, host key ssh-ed25519 " + server_->fingerprint()),
              1)
        << logText();
  }
}

// --- The frame's refusals --------------------------------------------------------------

// What known_hosts holds before a row.
enum class Known {
  Key,       // the server's key for the port
  Nothing,   // nothing
  OtherKey,  // another key for the port
  Kept,      // what the row before left
};

struct RefusalRow {
  const char* name;
  const char* family;
  int port;  // 0: the family's console
  int policy;
  Known known;
  bool rightPassword;
  int expected;
  const char* text;       // in the error text
  bool fingerprint;       // the error text names the server's key
  bool loginRequest;      // the server saw a login request
  bool fileHoldsTheKey;   // known_hosts holds the server's key afterwards, once and alone
};

TEST_F(SshUpdates, RefusalsTable) {
  const RefusalRow rows[] = {
      {"unknown key, strict: refused before any password", "brocade", 0, SSHCON_STRICT, Known::Nothing, true,
       IO_CONN_ERR, "is unknown: ssh-ed25519 SHA256:", true, false, false},
      {"changed key, strict", "brocade", 0, SSHCON_STRICT, Known::OtherKey, true, IO_CONN_ERR,
       "has changed: the server offers ssh-ed25519 SHA256:", true, false, false},
      {"changed key, accept-new", "cisco", 0, SSHCON_ACCEPT_NEW, Known::OtherKey, true, IO_CONN_ERR,
       "has changed", true, false, false},
      {"unknown key, accept-new: added and the update runs", "brocade", 0, SSHCON_ACCEPT_NEW, Known::Nothing, true, 0,
       "", false, true, true},
      {"the key added is known the next time", "brocade", 0, SSHCON_STRICT, Known::Kept, true, 0, "", false, true,
       true},
      {"wrong password", "qlogic", 0, SSHCON_STRICT, Known::Key, false, IO_BAD_SWITCH_LOGIN,
       "refused the password of user modburnssh", false, true, true},
      {"nothing listening", "brocade", 42399, SSHCON_STRICT, Known::Nothing, true, IO_CONN_ERR, "cannot connect to",
       false, false, false},
      {"a menu console has no SSH", "veltra", 0, SSHCON_STRICT, Known::Nothing, true, IO_INV_IP,
       "this console has no SSH: give the switch's TELNET address (without ssh://)", false, false, false},
  };
  const std::string otherKey = "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIOMqqnkVzrm0SdG6UOoqKLsabgH5C9okWi0dh2l9GKJl";
  for (const RefusalRow& row : rows) {
    SCOPED_TRACE(row.name);
    const FamilyRow& f = familyRow(row.family);
    const int port = row.port != 0 ? row.port : portOf(row.family);
    if (row.known == Known::Nothing) trust({}, "");
    if (row.known == Known::OtherKey) trust({port}, otherKey);
    if (row.known == Known::Key) trust({port}, server_->host_key());
    sshcon_setHostKeyPolicy(row.policy);
    const std::size_t logBefore = server_->log().size();
    const std::vector<std::string> before = server_->transcripts();
    const char* password = row.rightPassword ? SshdServer::password() : "Zq7-Wrong-Lp4";
    const Update u = update(f, address(port), password);
    EXPECT_EQ(u.rc, row.expected) << u.err << "\n" << logText();
    if (row.expected != 0) {
      const std::string head = std::string("Error: ") + f.display + " switch=" + address(port) + ": ";
      EXPECT_EQ(u.err.rfind(head, 0), 0u) << u.err;
      EXPECT_NE(u.err.find(row.text), std::string::npos) << u.err;
      EXPECT_EQ(u.err.find(server_->fingerprint()) != std::string::npos, row.fingerprint) << u.err;
      EXPECT_EQ(switchtest::firstPiece(u.err, password), "") << u.err;
    }
    const std::string keyLine = knownName(port) + " " + server_->host_key() + "\n";
    if (row.fileHoldsTheKey) {
      EXPECT_EQ(knownHostsText(), keyLine);
    } else {
      EXPECT_EQ(knownHostsText().find(server_->host_key()), std::string::npos) << knownHostsText();
    }
    if (row.port == 0 && row.expected != IO_INV_IP) {
      // Wait for the server to note the end of the connection before reading its log.
      const auto deadline = Clock::now() + std::chrono::seconds(5);
      std::string seen;
      do {
        seen = server_->log().substr(logBefore);
      } while (seen.find("Connection closed") == std::string::npos &&
               seen.find("Disconnected from") == std::string::npos && Clock::now() < deadline &&
               (std::this_thread::sleep_for(std::chrono::milliseconds(20)), true));
      EXPECT_EQ(seen.find("userauth-request") != std::string::npos, row.loginRequest) << seen;
    }
    if (row.expected == 0) {
      EXPECT_EQ(newTranscripts(before, 1).size(), 1u) << "one console session";
    }
  }
}

// --- Cut sessions -------------------------------------------------------------------------

struct CutRow {
  const char* family;
  const char* fault;  // the console's fault: after how many typed lines
  int expected;       // 0: any failure
};

TEST_F(SshUpdates, SessionCutAfterTypedLines) {
  const CutRow rows[] = {
      {"brocade", "close 1", IO_CONN_LOST},
      {"cisco", "close 1", IO_CONN_LOST},   // cut right after "enable"
      {"qlogic", "close 2", IO_CONN_LOST},
      {"sas", "stall 1 1500", IO_CONN_LOST},  // silent, then gone
      // The other families: a failure, whichever wait notices the cut first.
      {"ciscofc", "close 2", 0},
      {"intel", "close 2", 0},
      {"nortel", "close 2", 0},
      {"topspin", "close 2", 0},
      {"mcdata", "close 2", 0},
      {"ibbridge", "close 2", 0},
  };
  trustAll();
  // A cut reaches the library through sshd, which a loaded machine (or a
  // sanitized simulator behind it) may slow: the waits it must beat are
  // left longer here; a cut still ends each row at once.
  modburn::set_time_scale(0.5);
  for (const CutRow& row : rows) {
    SCOPED_TRACE(std::string(row.family) + " " + row.fault);
    const FamilyRow& f = familyRow(row.family);
    const int port = portOf(row.family);
    ASSERT_TRUE(server_->set_fault(port, row.fault));
    const std::vector<std::string> before = server_->transcripts();
    const int descriptors = switchtest::openDescriptors();
    const Update u = update(f, address(port), SshdServer::password());
    if (row.expected != 0) {
      EXPECT_EQ(u.rc, row.expected) << u.err;
    } else {
      EXPECT_LT(u.rc, 0) << "the update went on after the cut";
    }
    EXPECT_EQ(u.err.rfind(std::string("Error: ") + f.display + " switch=" + address(port) + ": ", 0), 0u) << u.err;
    EXPECT_EQ(switchtest::openDescriptors(), descriptors) << "the session's descriptors are closed";
    const std::vector<std::string> fresh = newTranscripts(before, 1);
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_NE(fresh[0].find("= fault: "), std::string::npos) << fresh[0];
    server_->set_fault(port, "");
  }
}

// --- The log ------------------------------------------------------------------------------

TEST_F(SshUpdates, NoPasswordInAnyLogLine) {
  trustAll();
  // Cisco types the password again on the console ("enable"); the URL holds one too.
  const FamilyRow& f = familyRow("cisco");
  for (int level = 0; level <= 3; ++level) {
    SCOPED_TRACE("level " + std::to_string(level));
    testsupport::capture_clear();
    telnet_setDebugLevel(level);
    // A thread of its own: libssh's log settings are per thread.
    Update u;
    std::thread([&] { u = update(f, address(portOf("cisco")), SshdServer::password(), std::min(level, 2)); }).join();
    EXPECT_EQ(u.rc, 0) << u.err;
    const std::string text = logText();
    EXPECT_FALSE(text.empty());
    for (const char* secret : {SshdServer::password(), switchtest::kUrlPassword}) {
      EXPECT_EQ(switchtest::firstPiece(text, secret), "") << "a piece of a password at level " << level;
    }
    EXPECT_EQ(testsupport::capture_count("libssh: ") > 0, level >= 2);
  }
}

}  // namespace
