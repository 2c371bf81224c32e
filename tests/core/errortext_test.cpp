// The error text quotes what the switch said as a person may read it: secrets
// masked, control characters escaped but the line ends between answers, and
// never cut inside a UTF-8 sequence.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/secrets.h"
#include "core/exchange.h"
#include "core/iostatus.h"

namespace {

const std::string kHead = "Error: Brocade switch=10.1.1.1: Telnet timeout (IO_TIMEOUT) \nSWITCH TEXT=\n\"";

TEST(ErrorText, QuotesTheSwitchEscapedAndMasked) {
  const struct {
    const char* name;
    std::string switchText;
    int size;
    std::string quoted;  // what follows the head; the closing quote when whole
  } rows[] = {
      {"the switch's own words", "Login incorrect\r\nlogin: \n", 1000, "Login incorrect\r\nlogin: \n\""},
      {"terminal sequences", "\x1b[2J\x1b[1;1Hupdate succeeded\n", 1000, "\\x1b[2J\\x1b[1;1Hupdate succeeded\n\""},
      {"C1 controls", "\x9b" "2J\xc2\x9b" "2J\n", 1000, "\\x9b2J\\xc2\\x9b2J\n\""},
      {"a bare carriage return and NUL-free junk", "ok\rFAILED\xff\n", 1000, "ok\\rFAILED\\xff\n\""},
      {"readable UTF-8", "Fehler: Datei \xc3\xbc" "berpr\xc3\xbc" "fen\n", 1000, "Fehler: Datei \xc3\xbc" "berpr\xc3\xbc" "fen\n\""},
      {"a piece of a password", "copy ftp://u:Ftp-9\r\nass@h/f\nFtp-\n", 1000, "copy ftp://u:*****\r\nass@h/f\nFtp-\n\""},
      {"a cut inside UTF-8", "\xe2\x82\xac\xe2\x82\xac", static_cast<int>(kHead.size()) + 5, "\xe2\x82\xac"},
  };
  modburn::SecretScope scope{"Ftp-9ass"};
  for (const auto& row : rows) {
    std::vector<char> buf(static_cast<std::size_t>(row.size) + 8, '#');
    io_errorText("Brocade", "10.1.1.1", IO_TIMEOUT, row.switchText.c_str(), buf.data(), row.size);
    EXPECT_EQ(std::string(buf.data()), kHead + row.quoted) << row.name;
    EXPECT_EQ(buf[static_cast<std::size_t>(row.size)], '#') << row.name << ": wrote past the buffer";
  }
}

}  // namespace
