// Interoperation with a real TELNET server (the system's telnetd on a
// loopback port), whose login program is a small console script.
#include <string>

#include "com/secrets.h"
#include "support/telnetd_console.h"
#include "telnet_fixture.h"

using testsupport::capture_count;
using testsupport::capture_text;
using testsupport::TelnetdConsole;

namespace {

// Prints a banner and a login prompt, reads the user, turns echo off for
// the password, and on success gives a prompt that answers one command.
// After a refusal it waits a moment before it ends, as a real login does:
// output still in the terminal when its program ends can be lost on the way
// to the server, and the test wants the refusal's words.
const char* const kConsole = R"(#!/bin/sh
printf 'Test switch console\r\n'
printf 'login: '
read -r user
stty -echo
printf 'Password: '
read -r pw
stty echo
printf '\r\n'
if [ "$user" = admin ] && [ "$pw" = 'Pa55\w0rd' ]; then
  printf 'switch> '
  read -r cmd
  printf 'you typed %s\r\n' "$cmd"
  printf 'switch> '
  read -r cmd
else
  printf 'Login incorrect\r\n'
  sleep 1
fi
)";

using TelnetRealServer = TelnetLogTest;

}  // namespace

TEST_F(TelnetRealServer, NegotiationCompletesAndTheConsoleStarts) {
  telnet_setDebugLevel(2);
  TelnetdConsole server(kConsole);
  ASSERT_EQ(server.problem(), "");
  const TelnetHandle h = telnet_open("127.0.0.1", server.port());
  ASSERT_GE(h, 0) << capture_text();

  // The server holds the console back until its opening requests are
  // answered; then the banner and the prompt arrive as text.
  std::string text;
  char line[1000];
  int n = 0;
  while (text.find("login: ") == std::string::npos &&
         (n = telnet_readline(h, line, sizeof line, 0, 10, 0)) >= 0) {
    text += line;
  }
  ASSERT_GE(n, 0) << capture_text();
  EXPECT_NE(text.find("Test switch console"), std::string::npos) << text;
  EXPECT_EQ(text.find('\xff'), std::string::npos) << "a command leaked into the text";

  const std::string hs = std::to_string(h);
  EXPECT_EQ(capture_count("telnet:" + hs + ":REC: DO TTYPE\n"), 1) << capture_text();
  EXPECT_EQ(capture_count("telnet:" + hs + ":SND: WONT TTYPE\n"), 1);
  EXPECT_EQ(capture_count("telnet:" + hs + ":REC: DO ECHO\n"), 1);
  EXPECT_EQ(capture_count("telnet:" + hs + ":SND: WILL ECHO\n"), 1);
  EXPECT_GE(capture_count("telnet:" + hs + ":REC: WILL SGA\n"), 1);
  EXPECT_GE(capture_count("telnet:" + hs + ":SND: DONT SGA\n"), 1);
  EXPECT_EQ(telnet_close(h), TELNET_SUCCESS);
}

TEST_F(TelnetRealServer, LogsInWithWriteAndExpectAndReadsThePrompt) {
  telnet_setDebugLevel(2);
  const std::string password = "Pa55\\w0rd";
  modburn::SecretScope scope{password};
  TelnetdConsole server(kConsole);
  ASSERT_EQ(server.problem(), "");
  const TelnetHandle h = telnet_open("127.0.0.1", server.port());
  ASSERT_GE(h, 0) << capture_text();

  char out[5000];
  const char* expLogin[] = {"incorrect", "login:", nullptr};
  ASSERT_EQ(telnet_expect(h, expLogin, 10, 0, out, sizeof out), 1) << capture_text();
  EXPECT_STREQ(out, "login:");
  ASSERT_EQ(telnet_write(h, "admin\r"), TELNET_SUCCESS);

  const char* expPassword[] = {"incorrect", "Password:", nullptr};
  ASSERT_EQ(telnet_expect(h, expPassword, 10, 0, out, sizeof out), 1) << capture_text();
  ASSERT_EQ(telnet_write(h, (password + "\r").c_str()), TELNET_SUCCESS);

  const char* expPrompt[] = {"incorrect", "switch>", nullptr};
  ASSERT_EQ(telnet_expect(h, expPrompt, 10, 0, out, sizeof out), 1) << capture_text();
  EXPECT_STREQ(out, "switch>");

  ASSERT_EQ(telnet_write(h, "show version\r"), TELNET_SUCCESS);
  const char* expAnswer[] = {"you typed [a-z ]*", nullptr};
  ASSERT_EQ(telnet_expect(h, expAnswer, 10, 0, out, sizeof out), 0) << capture_text();
  EXPECT_STREQ(out, "you typed show version");
  ASSERT_EQ(telnet_expect(h, expPrompt, 10, 0, out, sizeof out), 1) << capture_text();
  EXPECT_EQ(telnet_close(h), TELNET_SUCCESS);

  // The typed password shows as stars only.
  const std::string log = capture_text();
  EXPECT_EQ(capture_count("telnet_write:" + std::to_string(h) + ": SND: TEXT 10 bytes: \"*********\\r\"\n"), 1)
      << log;
  EXPECT_EQ(log.find("Pa55"), std::string::npos);
}

TEST_F(TelnetRealServer, WrongPasswordIsRecognised) {
  TelnetdConsole server(kConsole);
  ASSERT_EQ(server.problem(), "");
  const TelnetHandle h = telnet_open("127.0.0.1", server.port());
  ASSERT_GE(h, 0);
  char out[100];
  const char* expLogin[] = {"login:", nullptr};
  ASSERT_EQ(telnet_expect(h, expLogin, 10, 0, out, sizeof out), 0);
  telnet_write(h, "admin\r");
  const char* expPassword[] = {"Password:", nullptr};
  ASSERT_EQ(telnet_expect(h, expPassword, 10, 0, out, sizeof out), 0);
  telnet_write(h, "guess\r");
  const char* expResult[] = {"Login incorrect", "switch>", nullptr};
  EXPECT_EQ(telnet_expect(h, expResult, 10, 0, out, sizeof out), 0);
  EXPECT_STREQ(out, "Login incorrect");
  telnet_close(h);
}
