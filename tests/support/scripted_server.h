// A loopback TCP server for tests that plays a script to one client: bytes to
// send, pauses, waits for what the client types, and how to end. A thread of
// its own runs the script and records every byte the client sends, so a test
// drives the client in its own thread and checks both sides afterwards.
// Everything is bounded in time: the server stops by itself.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// One step of a script.
struct Step {
  enum class Kind {
    Send,      // send bytes
    Pause,     // wait millis, receiving meanwhile
    Sleep,     // wait millis without receiving (input stays queued)
    Await,     // wait (up to millis) until the received bytes contain bytes
    HangUp,    // half-close: send FIN, then receive until the client closes
    Close,     // close the connection at once
  };
  Kind kind;
  std::string bytes;
  int millis = 0;

  static Step send(std::string bytes) { return {Kind::Send, std::move(bytes), 0}; }
  static Step pause(int ms) { return {Kind::Pause, {}, ms}; }
  static Step sleep(int ms) { return {Kind::Sleep, {}, ms}; }
  static Step await(std::string text, int timeoutMs = 5000) { return {Kind::Await, std::move(text), timeoutMs}; }
  static Step hangUp() { return {Kind::HangUp, {}, 0}; }
  static Step close() { return {Kind::Close, {}, 0}; }
};

class ScriptedServer {
 public:
  // Listens on 127.0.0.1 (or ::1 when ipv6) on a free port and starts the
  // thread that accepts one client and plays the script. After the last step
  // (unless it closed) it keeps receiving until the client closes or
  // lingerMs pass, then closes.
  explicit ScriptedServer(std::vector<Step> script, bool ipv6 = false, int lingerMs = 5000);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  // Whether the listening socket could be set up.
  bool listening() const { return listenFd_ >= 0; }
  int port() const { return port_; }

  // Waits for the server thread to end; returns everything received.
  std::string finish();
  // What has been received so far.
  std::string received() const;
  // Waits up to timeoutMs until the received bytes contain needle.
  bool waitReceived(const std::string& needle, int timeoutMs) const;
  // Whether the client closed its side (end of stream seen).
  bool sawClientClose() const;
  // Whether the client reset the connection.
  bool sawReset() const;
  // Whether every Await step saw its text in time.
  bool awaitsMet() const;

 private:
  void run();
  bool acceptClient(int timeoutMs);
  // Receives for up to ms; stops early at end of stream or, when until is
  // non-empty, as soon as it has been received. False once the stream ended.
  bool receiveFor(int ms, const std::string& until = {});

  std::vector<Step> script_;
  int lingerMs_;
  int listenFd_ = -1;
  int conn_ = -1;
  int port_ = 0;
  std::thread thread_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string received_;
  bool clientClosed_ = false;
  bool reset_ = false;
  bool awaitsMet_ = true;
  bool done_ = false;
};

// A loopback port on which nothing listens (a connection to it is refused).
int refused_port();

}  // namespace testsupport
