// A real TELNET server for interoperation tests: socat listens on a loopback
// port and, for the one connection it accepts, runs the system's telnetd with
// a console script of the test as its login program. The whole group runs
// under a time limit, so it stops by itself.
#pragma once

#include <sys/types.h>

#include <initializer_list>
#include <string>

namespace testsupport {

class TelnetdConsole {
 public:
  // Writes consoleScript (a /bin/sh script) to a private folder and starts
  // the server on a free port of 127.0.0.1.
  explicit TelnetdConsole(const std::string& consoleScript);
  ~TelnetdConsole();
  TelnetdConsole(const TelnetdConsole&) = delete;
  TelnetdConsole& operator=(const TelnetdConsole&) = delete;

  // Empty when the server runs; else why it could not start (a missing
  // program is named).
  const std::string& problem() const { return problem_; }
  int port() const { return port_; }

 private:
  std::string dir_;
  std::string problem_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// Path of an executable: the first of candidates that exists, else the name
// found on PATH, else empty.
std::string find_program(const std::string& name, std::initializer_list<const char*> candidates);

}  // namespace testsupport
