#include "support/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

// How long the server waits for its one client to connect.
constexpr int ACCEPT_LIMIT_MS = 10000;

int msLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

int listenOn(bool ipv6, int& port) {
  const int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_storage ss{};
  socklen_t len = 0;
  if (ipv6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
    a->sin6_family = AF_INET6;
    a->sin6_addr = in6addr_loopback;
    len = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&ss);
    a->sin_family = AF_INET;
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    len = sizeof *a;
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0 || listen(fd, 1) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
  return fd;
}

}  // namespace

ScriptedServer::ScriptedServer(std::vector<Step> script, bool ipv6, int lingerMs)
    : script_(std::move(script)), lingerMs_(lingerMs) {
  listenFd_ = listenOn(ipv6, port_);
  if (listenFd_ >= 0) thread_ = std::thread([this] { run(); });
}

ScriptedServer::~ScriptedServer() {
  finish();
  if (listenFd_ >= 0) ::close(listenFd_);
}

std::string ScriptedServer::finish() {
  if (thread_.joinable()) thread_.join();
  return received();
}

std::string ScriptedServer::received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

bool ScriptedServer::waitReceived(const std::string& needle, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return received_.find(needle) != std::string::npos || done_;
  }) && received_.find(needle) != std::string::npos;
}

bool ScriptedServer::sawClientClose() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return clientClosed_;
}

bool ScriptedServer::sawReset() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reset_;
}

bool ScriptedServer::awaitsMet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return awaitsMet_;
}

bool ScriptedServer::acceptClient(int timeoutMs) {
  pollfd pfd{listenFd_, POLLIN, 0};
  if (poll(&pfd, 1, timeoutMs) != 1) return false;
  conn_ = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
  return conn_ >= 0;
}

bool ScriptedServer::receiveFor(int ms, const std::string& until) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (!until.empty()) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (received_.find(until) != std::string::npos) return true;
    }
    const int left = msLeft(deadline);
    if (left == 0) return true;
    pollfd pfd{conn_, POLLIN, 0};
    const int r = poll(&pfd, 1, left);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return true;
    char chunk[4096];
    const ssize_t got = recv(conn_, chunk, sizeof chunk, 0);
    std::lock_guard<std::mutex> lock(mutex_);
    if (got > 0) {
      received_.append(chunk, static_cast<std::size_t>(got));
      changed_.notify_all();
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) reset_ = errno == ECONNRESET;
    clientClosed_ = got == 0;
    changed_.notify_all();
    return false;
  }
}

void ScriptedServer::run() {
  if (acceptClient(ACCEPT_LIMIT_MS)) {
    bool open = true;
    bool closed = false;
    for (const Step& step : script_) {
      if (!open || closed) break;
      switch (step.kind) {
        case Step::Kind::Send:
          if (send(conn_, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(step.bytes.size())) {
            open = false;
          }
          break;
        case Step::Kind::Pause:
          open = receiveFor(step.millis);
          break;
        case Step::Kind::Sleep:
          std::this_thread::sleep_for(std::chrono::milliseconds(step.millis));
          break;
        case Step::Kind::Await: {
          open = receiveFor(step.millis, step.bytes);
          std::lock_guard<std::mutex> lock(mutex_);
          if (received_.find(step.bytes) == std::string::npos) awaitsMet_ = false;
          break;
        }
        case Step::Kind::HangUp:
          shutdown(conn_, SHUT_WR);
          break;
        case Step::Kind::Close:
          closed = true;
          break;
      }
    }
    if (open && !closed) receiveFor(lingerMs_, {});
    ::close(conn_);
    conn_ = -1;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  done_ = true;
  changed_.notify_all();
}

int refused_port() {
  int port = 0;
  const int fd = listenOn(false, port);
  if (fd >= 0) ::close(fd);
  return port;
}

}  // namespace testsupport
