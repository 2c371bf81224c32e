// SSH consoles against a real OpenSSH server whose forced command plays the
// simulator's scenario for the port reached: the opening (host-key policy,
// password and keyboard-interactive login), the channel's bytes, time-outs,
// the server ending the session, many sessions at once, and the log.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/capture_sink.h"
#include "support/sshd_server.h"
#include "telnet/ssh.h"

namespace {

using testsupport::SshdServer;
using Clock = std::chrono::steady_clock;

constexpr int kConnectMillis = 10000;
constexpr int kPasswordPort = 42201;   // password and keyboard-interactive
constexpr int kQuestionsPort = 42202;  // keyboard-interactive only
constexpr int kClosingPort = 42203;    // the console says goodbye and closes
constexpr int kUnusedPort = 42209;     // nothing listens

// Prints a banner with a raw byte 255 (no TELNET layer doubles or takes it),
// waits for one typed line, answers, and waits for the client to close.
const char kConsole[] =
    "option linger-ms 20000\n"
    "send \"Welcome\\xff\\r\\nsw> \"\n"
    "expect\n"
    "send \"ok\\r\\nsw> \"\n";
const char kClosing[] = "send \"bye\\r\\n\"\nclose\n";

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

int open_descriptors() {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) n += entry.exists() ? 1 : 0;
  return n;
}

// What the opening of a session leaves in the known_hosts file before it.
enum class Trust {
  Known,      // the server's key
  None,       // an empty file
  Changed,    // another ed25519 key for the same name
  OtherType,  // an RSA key for the same name
};

class SshConsole : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!SshdServer::missing().empty()) return;
    server_ = new SshdServer;
    if (!server_->start(testsupport::pid_address(100),
                        {{.port = kPasswordPort, .scenario = kConsole},
                         {.port = kQuestionsPort, .scenario = kConsole, .password_auth = false},
                         {.port = kClosingPort, .scenario = kClosing}},
                        startError_)) {
      startError_ += " (folder " + server_->folder() + ")";
      return;
    }
    otherEd25519_ = make_key("ed25519");
    otherRsa_ = make_key("rsa");
  }

  // A new public key of the type ("ssh-ed25519 AAAA...").
  static std::string make_key(const std::string& type) {
    const std::string path = server_->folder() + "/other_" + type;
    testsupport::run_program({"ssh-keygen", "-q", "-t", type, "-b", type == "rsa" ? "1024" : "256", "-N", "",
                              "-f", path},
                             "");
    std::istringstream pub(read_text(path + ".pub"));
    std::string kind, blob;
    pub >> kind >> blob;
    return kind + " " + blob;
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    const std::string why = SshdServer::missing();
    if (!why.empty()) GTEST_SKIP() << why;
    ASSERT_TRUE(startError_.empty()) << startError_;
    ASSERT_TRUE(known_.make());
    dir_ = known_.folder();
    knownHosts_ = known_.file();
    previousSink_ = telnet_setLogSink(&testsupport::capture_sink);
    previousLevel_ = telnet_setDebugLevel(1);
    testsupport::capture_clear();
  }

  void TearDown() override {
    if (dir_.empty()) return;
    telnet_setLogSink(previousSink_);
    telnet_setDebugLevel(previousLevel_);
    // No raw control byte in any line logged, whatever the test did.
    for (const std::string& entry : testsupport::capture_entries()) {
      for (std::size_t i = 0; i + 1 < entry.size(); ++i) {
        EXPECT_GE(static_cast<unsigned char>(entry[i]), 0x20) << entry;
      }
    }
  }

  static std::string name(int port) { return "[" + server_->address() + "]:" + std::to_string(port); }

  void trust(Trust t, int port) {
    std::string line;
    switch (t) {
      case Trust::Known: line = name(port) + " " + server_->host_key() + "\n"; break;
      case Trust::None: break;
      case Trust::Changed: line = name(port) + " " + otherEd25519_ + "\n"; break;
      case Trust::OtherType: line = name(port) + " " + otherRsa_ + "\n"; break;
    }
    std::ofstream(knownHosts_, std::ios::trunc) << line;
  }

  static SshHandle open(int port, const char* password = SshdServer::password(), std::string* why = nullptr) {
    char text[1000] = "";
    const SshHandle h = sshcon_open(server_->address().c_str(), port, SshdServer::user(), password,
                                    kConnectMillis, text, sizeof text);
    if (why != nullptr) *why = text;
    return h;
  }

  // Reads the channel until what came holds needle, the session ends or ms
  // pass; returns what came.
  static std::string read_until(SshHandle h, const std::string& needle, int ms = 5000) {
    std::string got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    char buf[512];
    while (got.find(needle) == std::string::npos && Clock::now() < deadline) {
      const int n = sshcon_read(h, buf, sizeof buf, 200);
      if (n > 0) got.append(buf, static_cast<std::size_t>(n));
      if (n < 0 && n != TELNET_TIMEOUT) break;
    }
    return got;
  }

  // The transcript holding needle, once its session has ended (empty when
  // none comes within ms).
  static std::string ended_transcript_with(const std::string& needle, int ms = 10000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    do {
      for (const std::string& t : server_->transcripts()) {
        if (t.find(needle) != std::string::npos && t.find("\n= end ") != std::string::npos) return t;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < deadline);
    return "";
  }

  // What sshd logs from offset on, once a connection there has ended.
  static std::string log_after(std::size_t offset, int ms = 5000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    std::string delta;
    do {
      const std::string all = server_->log();
      delta = all.size() > offset ? all.substr(offset) : "";
      if (delta.find("Connection closed by") != std::string::npos ||
          delta.find("Disconnected from") != std::string::npos) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < deadline);
    return delta;
  }

  std::string knownHostsLines() const { return read_text(knownHosts_); }

  static inline SshdServer* server_ = nullptr;
  static inline std::string startError_;
  static inline std::string otherEd25519_;
  static inline std::string otherRsa_;
  testsupport::KnownHostsFolder known_;
  std::string dir_;
  std::string knownHosts_;
  LogSink previousSink_ = nullptr;
  int previousLevel_ = 0;
};

// --- Opening --------------------------------------------------------------------

struct OpenRow {
  const char* name;
  int port;
  int policy;
  Trust trust;
  bool rightPassword;
  int expected;        // 0: a handle
  const char* why;     // part of the reason given
  bool loginRequest;   // the server saw a login request
};

TEST_F(SshConsole, OpeningTable) {
  const OpenRow rows[] = {
      {"password login", kPasswordPort, SSHCON_STRICT, Trust::Known, true, 0, "", true},
      {"keyboard-interactive only", kQuestionsPort, SSHCON_STRICT, Trust::Known, true, 0, "", true},
      {"wrong password", kPasswordPort, SSHCON_STRICT, Trust::Known, false, SSHCON_AUTH_DENIED,
       "refused the password of user modburnssh", true},
      {"wrong answer to the password question", kQuestionsPort, SSHCON_STRICT, Trust::Known, false,
       SSHCON_AUTH_DENIED, "refused the password of user modburnssh", true},
      {"unknown key, strict", kPasswordPort, SSHCON_STRICT, Trust::None, true, SSHCON_HOSTKEY_UNKNOWN,
       "is unknown: ssh-ed25519 SHA256:", false},
      {"changed key, strict", kPasswordPort, SSHCON_STRICT, Trust::Changed, true, SSHCON_HOSTKEY_CHANGED,
       "has changed: the server offers ssh-ed25519 SHA256:", false},
      {"changed key, accept-new", kPasswordPort, SSHCON_ACCEPT_NEW, Trust::Changed, true, SSHCON_HOSTKEY_CHANGED,
       "has changed: the server offers ssh-ed25519 SHA256:", false},
      {"key of another type known, accept-new", kPasswordPort, SSHCON_ACCEPT_NEW, Trust::OtherType, true,
       SSHCON_HOSTKEY_CHANGED, "holds a key of another type", false},
      {"nothing listening", kUnusedPort, SSHCON_STRICT, Trust::Known, true, TELNET_CONN_ERR, "cannot connect to",
       false},
  };
  for (const OpenRow& row : rows) {
    SCOPED_TRACE(row.name);
    trust(row.trust, row.port);
    sshcon_setHostKeyPolicy(row.policy);
    const std::string fileBefore = knownHostsLines();
    const std::size_t logBefore = server_->log().size();
    const int descriptorsBefore = open_descriptors();
    testsupport::capture_clear();

    std::string why;
    const SshHandle h = open(row.port, row.rightPassword ? SshdServer::password() : "Wr0ng-Qx7-Kz9", &why);
    if (row.expected == 0) {
      ASSERT_GE(h, 0) << why;
      EXPECT_TRUE(sshcon_isSession(h));
      EXPECT_EQ(why, "");
      EXPECT_EQ(sshcon_close(h), TELNET_SUCCESS);
    } else {
      EXPECT_EQ(h, row.expected) << why;
      EXPECT_NE(why.find(row.why), std::string::npos) << why;
      // A refused key is named by its type and fingerprint.
      if (row.expected == SSHCON_HOSTKEY_UNKNOWN || row.expected == SSHCON_HOSTKEY_CHANGED) {
        EXPECT_NE(why.find(server_->fingerprint()), std::string::npos) << why;
      }
      EXPECT_EQ(testsupport::capture_count(why), 1) << "the refusal is logged once";
    }
    EXPECT_EQ(knownHostsLines(), fileBefore) << "only accept-new of an unknown key writes the file";
    EXPECT_EQ(open_descriptors(), descriptorsBefore) << "nothing left open";
    if (row.port != kUnusedPort) {
      const std::string seen = log_after(logBefore);
      EXPECT_EQ(seen.find("userauth-request") != std::string::npos, row.loginRequest) << seen;
    }
  }
}

TEST_F(SshConsole, AcceptNewAddsAnUnknownKeyOnce) {
  // The file's folder does not exist yet, as ~/.ssh may not.
  knownHosts_ = dir_ + "/new/known_hosts";
  sshcon_setKnownHosts(knownHosts_.c_str());
  sshcon_setHostKeyPolicy(SSHCON_ACCEPT_NEW);
  const std::string line = name(kPasswordPort) + " " + server_->host_key() + "\n";

  std::string why;
  SshHandle h = open(kPasswordPort, SshdServer::password(), &why);
  ASSERT_GE(h, 0) << why;
  EXPECT_EQ(sshcon_close(h), TELNET_SUCCESS);
  EXPECT_EQ(knownHostsLines(), line);
  EXPECT_EQ(testsupport::capture_count("added to " + knownHosts_), 1);
  EXPECT_EQ(testsupport::capture_count(server_->fingerprint()), 2) << "the key is logged, then its addition";

  h = open(kPasswordPort, SshdServer::password(), &why);
  ASSERT_GE(h, 0) << why;
  EXPECT_EQ(sshcon_close(h), TELNET_SUCCESS);
  sshcon_setHostKeyPolicy(SSHCON_STRICT);
  h = open(kPasswordPort, SshdServer::password(), &why);
  ASSERT_GE(h, 0) << why;
  EXPECT_EQ(sshcon_close(h), TELNET_SUCCESS);
  EXPECT_EQ(knownHostsLines(), line) << "a known key is not added again";
  EXPECT_EQ(testsupport::capture_count("added to"), 1);
}

// --- The channel ------------------------------------------------------------------

TEST_F(SshConsole, DialogueOverTheChannel) {
  trust(Trust::Known, kPasswordPort);
  std::string why;
  const SshHandle h = open(kPasswordPort, SshdServer::password(), &why);
  ASSERT_GE(h, 0) << why;
  EXPECT_EQ(testsupport::capture_count("transport SSH to " + name(kPasswordPort) + ", host key ssh-ed25519 " +
                                       server_->fingerprint()),
            1);
  // The banner's byte 255 arrives once: no option negotiation, no IAC.
  EXPECT_EQ(read_until(h, "sw> "), std::string("Welcome\xff\r\nsw> "));
  ASSERT_EQ(sshcon_write(h, "hello-ssh\r", 10), TELNET_SUCCESS);
  EXPECT_EQ(read_until(h, "ok\r\nsw> "), "hello-ssh\r\nok\r\nsw> ") << "the console's echo, then its answer";
  EXPECT_EQ(sshcon_close(h), TELNET_SUCCESS);

  const std::string transcript = ended_transcript_with("< hello-ssh\\r\n");
  EXPECT_NE(transcript.find("peer 127.0.0.1:"), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("> Welcome\\xff\\r\\nsw> \n"), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("= client closed\n= end completed\n"), std::string::npos) << transcript;
}

TEST_F(SshConsole, ReadTimesOutOnSilence) {
  trust(Trust::Known, kPasswordPort);
  const SshHandle h = open(kPasswordPort);
  ASSERT_GE(h, 0);
  ASSERT_NE(read_until(h, "sw> ").find("sw> "), std::string::npos);
  char buf[100];
  for (const int millis : {0, 300}) {
    const auto start = Clock::now();
    EXPECT_EQ(sshcon_read(h, buf, sizeof buf, millis), TELNET_TIMEOUT);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(took, millis - 20);
    EXPECT_LT(took, millis + 700);
  }
  // Signals during the wait (a JVM sends some) neither end it nor the session.
  struct sigaction quiet {};
  struct sigaction previous {};
  quiet.sa_handler = [](int) {};
  sigaction(SIGUSR1, &quiet, &previous);
  int result = 0;
  std::thread reader([&] { result = sshcon_read(h, buf, sizeof buf, 600); });
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    pthread_kill(reader.native_handle(), SIGUSR1);
  }
  reader.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ(result, TELNET_TIMEOUT);
  // The session goes on after a time-out.
  ASSERT_EQ(sshcon_write(h, "x\r", 2), TELNET_SUCCESS);
  EXPECT_NE(read_until(h, "ok\r\n").find("ok\r\n"), std::string::npos);
  EXPECT_EQ(sshcon_close(h), TELNET_SUCCESS);
}

TEST_F(SshConsole, ServerEndingTheSession) {
  trust(Trust::Known, kClosingPort);
  const SshHandle h = open(kClosingPort);
  ASSERT_GE(h, 0);
  EXPECT_EQ(read_until(h, "bye\r\n"), "bye\r\n");
  char buf[100];
  const auto start = Clock::now();
  EXPECT_EQ(sshcon_read(h, buf, sizeof buf, 5000), TELNET_CONN_LOST);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3)) << "the end is seen when it comes, not at the time-out";
  EXPECT_EQ(testsupport::capture_count("sshcon_read:" + std::to_string(h) + ": Server end shut down"), 1);
  EXPECT_TRUE(sshcon_isSession(h)) << "open until closed";
  EXPECT_EQ(sshcon_close(h), TELNET_SUCCESS);

  // A closed handle is nobody's.
  EXPECT_FALSE(sshcon_isSession(h));
  EXPECT_EQ(sshcon_read(h, buf, sizeof buf, 10), TELNET_BAD_HANDLE);
  EXPECT_EQ(sshcon_write(h, "x", 1), TELNET_BAD_HANDLE);
  EXPECT_EQ(sshcon_close(h), TELNET_BAD_HANDLE);
}

TEST_F(SshConsole, ManySessionsAtOnce) {
  // One new host for all: accept-new must add its key once.
  sshcon_setHostKeyPolicy(SSHCON_ACCEPT_NEW);
  constexpr int kSessions = 20;
  std::vector<std::string> problems(kSessions);
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (int i = 0; i < kSessions; ++i) {
    threads.emplace_back([i, &problems] {
      const std::string hello = "hello-" + std::to_string(i) + "\r";
      std::string why;
      const SshHandle h = open(kPasswordPort, SshdServer::password(), &why);
      if (h < 0) {
        problems[i] = "open: " + std::string(sshcon_strerror(h)) + ": " + why;
        return;
      }
      if (read_until(h, "sw> ").find("sw> ") == std::string::npos) problems[i] = "no prompt";
      sshcon_write(h, hello.c_str(), static_cast<int>(hello.size()));
      if (read_until(h, "ok\r\n").find("ok\r\n") == std::string::npos) problems[i] += " no answer";
      if (sshcon_close(h) != TELNET_SUCCESS) problems[i] += " close failed";
    });
  }
  for (auto& t : threads) t.join();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  for (int i = 0; i < kSessions; ++i) EXPECT_EQ(problems[i], "") << "session " << i;
  EXPECT_LT(took, 20000);
  std::printf("%d sessions at once: %lld ms\n", kSessions, static_cast<long long>(took));

  EXPECT_EQ(knownHostsLines(), name(kPasswordPort) + " " + server_->host_key() + "\n");
  for (int i = 0; i < kSessions; ++i) {
    const std::string t = ended_transcript_with("< hello-" + std::to_string(i) + "\\r\n");
    EXPECT_NE(t.find("= end completed"), std::string::npos) << "session " << i << ": " << t;
  }
}

// --- The log ----------------------------------------------------------------------

TEST_F(SshConsole, NoPasswordInAnyLogLine) {
  trust(Trust::Known, kPasswordPort);
  std::ofstream(knownHosts_, std::ios::app) << name(kQuestionsPort) << " " << server_->host_key() << "\n";
  // Whatever libssh writes goes through the sink: nothing reaches standard error.
  const std::string stderrFile = dir_ + "/stderr";
  std::fflush(stderr);
  const int savedStderr = dup(2);
  const int file = ::open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(file, 2);
  close(file);

  struct Attempt {
    int level;
    int port;
    bool rightPassword;
  };
  // Every level logs a subset of what the next one logs: the refusals are
  // tried at the highest level only.
  const Attempt attempts[] = {{0, kPasswordPort, true}, {1, kPasswordPort, true},  {2, kPasswordPort, true},
                              {1, kQuestionsPort, true}, {2, kQuestionsPort, true}, {2, kQuestionsPort, false}};
  for (const Attempt& a : attempts) {
    const std::string secret = a.rightPassword ? SshdServer::password() : "Hq4-nP8w-Tj2v";
    testsupport::capture_clear();
    telnet_setDebugLevel(a.level);
    // A thread of its own: libssh's log settings are per thread.
    std::thread([&] {
      const SshHandle h = open(a.port, secret.c_str());
      if (h >= 0) {
        read_until(h, "sw> ");
        sshcon_close(h);
      }
    }).join();
    const std::string text = testsupport::capture_text();
    SCOPED_TRACE("level " + std::to_string(a.level) + " port " + std::to_string(a.port));
    for (std::size_t i = 0; i + 4 <= secret.size(); ++i) {
      EXPECT_EQ(text.find(secret.substr(i, 4)), std::string::npos) << secret.substr(i, 4) << " in " << text;
    }
    EXPECT_EQ(testsupport::capture_count("libssh: ") > 0, a.level >= 2);
    EXPECT_EQ(testsupport::capture_count("host key ssh-ed25519 " + server_->fingerprint()), a.level >= 1 ? 1 : 0);
  }

  std::fflush(stderr);
  dup2(savedStderr, 2);
  close(savedStderr);
  EXPECT_EQ(read_text(stderrFile), "");
}

// --- Without a server ---------------------------------------------------------------

TEST(SshAddress, SchemePrefix) {
  const struct {
    const char* addr;
    const char* rest;  // null: not an SSH console
  } rows[] = {
      {"ssh://sw1:2222", "sw1:2222"}, {"SSH://10.0.0.1", "10.0.0.1"}, {"ssh://[fe80::1]:22", "[fe80::1]:22"},
      {"ssh://", ""},                 {"10.0.0.1", nullptr},          {"ssh:/10.0.0.1", nullptr},
      {"telnet://10.0.0.1", nullptr}, {"", nullptr},                  {nullptr, nullptr},
  };
  for (const auto& row : rows) {
    const char* rest = sshcon_addressRest(row.addr);
    if (row.rest == nullptr) {
      EXPECT_EQ(rest, nullptr) << row.addr;
    } else {
      ASSERT_NE(rest, nullptr) << row.addr;
      EXPECT_STREQ(rest, row.rest);
    }
  }
}

TEST(SshSettings, MisuseAndTexts) {
  EXPECT_EQ(sshcon_setHostKeyPolicy(7), -1);
  EXPECT_EQ(sshcon_hostKeyPolicy(), SSHCON_STRICT);
  EXPECT_EQ(sshcon_setHostKeyPolicy(SSHCON_ACCEPT_NEW), SSHCON_STRICT);
  EXPECT_EQ(sshcon_setHostKeyPolicy(SSHCON_STRICT), SSHCON_ACCEPT_NEW);
  sshcon_setKnownHosts("/tmp/x/known");
  EXPECT_EQ(sshcon_knownHosts(), "/tmp/x/known");
  sshcon_setKnownHosts(nullptr);
  EXPECT_TRUE(sshcon_knownHosts().ends_with("/.ssh/known_hosts")) << sshcon_knownHosts();

  const LogSink previous = telnet_setLogSink(nullptr);
  char why[100];
  EXPECT_EQ(sshcon_open("", 22, "u", "p", 100, why, sizeof why), TELNET_BAD_HOST);
  EXPECT_EQ(sshcon_open("127.0.0.1", 22, "", "p", 100, why, sizeof why), TELNET_BAD_STRING);
  EXPECT_EQ(sshcon_open("127.0.0.1", 22, "u", nullptr, 100, why, sizeof why), TELNET_BAD_STRING);
  EXPECT_EQ(sshcon_open("no_such_host_anywhere", 22, "u", "p", 100, why, sizeof why), TELNET_BAD_HOST);
  char buf[10];
  EXPECT_EQ(sshcon_read(0, buf, sizeof buf, 10), TELNET_BAD_HANDLE) << "standard input is no SSH session";
  EXPECT_EQ(sshcon_read(0, nullptr, 10, 10), TELNET_BAD_BUFFER);
  EXPECT_EQ(sshcon_write(0, "", 0), TELNET_BAD_STRING);
  EXPECT_EQ(sshcon_close(0), TELNET_BAD_HANDLE);
  telnet_setLogSink(previous);

  const struct {
    int code;
    const char* text;
  } texts[] = {{SSHCON_HOSTKEY_UNKNOWN, "Unknown SSH host key"},
               {SSHCON_HOSTKEY_CHANGED, "SSH host key changed"},
               {SSHCON_HOSTKEY_ERROR, "Known hosts file not usable"},
               {SSHCON_AUTH_DENIED, "SSH login refused"},
               {TELNET_CONN_LOST, "Connection lost"}};
  for (const auto& t : texts) EXPECT_STREQ(sshcon_strerror(t.code), t.text);
}

}  // namespace
