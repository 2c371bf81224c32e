// A plain TCP client for the simulator's own tests: raw bytes in and out, no
// TELNET handling, so the tests see exactly what the simulator puts on the wire.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <string_view>

class RawClient {
 public:
  ~RawClient() { close(); }

  bool connect(const std::string& address, uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    return fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  }

  void send(std::string_view bytes) { (void)::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

  // Reads until everything read so far contains needle, the server closes, or
  // ms pass; returns everything read so far.
  const std::string& read_until(std::string_view needle, int ms = 3000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got_.find(needle) == std::string::npos && !eof_) {
      int left = ms_left(end);
      if (left <= 0 || !read_some(left)) break;
    }
    return got_;
  }

  // Reads whatever arrives within ms.
  const std::string& read_for(int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      int left = ms_left(end);
      if (left <= 0 || eof_) break;
      read_some(left);
    }
    return got_;
  }

  // True once the server has closed its side (within ms).
  bool wait_eof(int ms = 3000) {
    read_until(std::string_view("\x01never\x02"), ms);
    return eof_;
  }

  // Forgets what was read so far.
  void clear() { got_.clear(); }
  // Forgets what was read up to and including the first needle.
  void drop_through(std::string_view needle) {
    size_t at = got_.find(needle);
    got_.erase(0, at == std::string::npos ? got_.size() : at + needle.size());
  }
  const std::string& got() const { return got_; }

  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Closes with a reset instead of an orderly close.
  void reset() {
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close();
  }

 private:
  static int ms_left(std::chrono::steady_clock::time_point end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    return static_cast<int>(left.count());
  }

  bool read_some(int ms) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return false;
    char buf[4096];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
      eof_ = true;
      return false;
    }
    got_.append(buf, static_cast<size_t>(n));
    return true;
  }

  int fd_ = -1;
  bool eof_ = false;
  std::string got_;
};
