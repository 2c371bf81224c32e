// Every family's normal update against a switch whose line editor wraps the
// echo of what is typed (a blank and a bare carriage return, CR NUL on the
// wire, each time the echo fills the terminal's width), at widths that cut
// the switch password and the FTP password into pieces, at TELNET debug
// levels 1 and 2 and library debug level 2. Whether the update succeeds or
// not, no piece of five characters of either password may reach the log or
// the error text.
#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "com/secrets.h"
#include "com/timescale.h"
#include "families.h"
#include "secret_pieces.h"

namespace {

using switchtest::FamilyRow;
using switchtest::firstPiece;
using switchtest::kFamilies;

const char* const kPasswords[] = {switchtest::kSwitchPassword, switchtest::kUrlPassword};

// True when an echo wrapped every width columns shows a piece of at least
// five characters of the secret typed at column in a line of its own.
bool cutsIntoPieces(int width, std::size_t column, std::size_t length) {
  std::size_t piece = 0;
  for (std::size_t col = column; col < column + length; ++col) {
    ++piece;
    if ((col + 1) % static_cast<std::size_t>(width) == 0) {
      if (piece >= modburn::kSecretWindow && piece < length) return true;
      piece = 0;
    }
  }
  return piece >= modburn::kSecretWindow && piece < length;
}

class WrappingEcho : public switchtest::LogCapture, public ::testing::WithParamInterface<FamilyRow> {};

TEST_P(WrappingEcho, NoPieceOfAPasswordReachesTheLogOrTheErrorText) {
  const FamilyRow& f = GetParam();
  switchsim::Scenario sc;
  std::string error;
  ASSERT_TRUE(switchtest::loadNormal(f, sc, error)) << error;
  modburn::set_time_scale(0.01);
  modburn::set_gap_scale(0.1);
  const std::string address = switchtest::testAddress(208);
  telnet_setDebugLevel(2);
  switchsim::SimOptions plain;
  plain.echo_password = true;
  const switchtest::Played normal = switchtest::play(f, address, sc, plain);
  ASSERT_EQ(normal.rc, 0) << "the plain update must succeed\n" << normal.err;

  // Widths that end the first row of an echoed password with five or six
  // of its characters, and one that leaves five for the next row.
  std::set<int> widths = {80};
  int cuttingWidths = 0;
  for (const std::string& typed : normal.session.lines()) {
    for (const std::string_view password : kPasswords) {
      const std::size_t column = typed.find(password);
      if (column == std::string::npos) continue;
      const int length = static_cast<int>(password.size());
      for (const int width : {static_cast<int>(column) + 5, static_cast<int>(column) + 6,
                              static_cast<int>(column) + length - 5}) {
        if (width < 1 || !cutsIntoPieces(width, column, password.size())) continue;
        widths.insert(width);
        ++cuttingWidths;
      }
    }
  }
  ASSERT_GT(cuttingWidths, 0) << "no width cuts a password into pieces";

  for (const int width : widths) {
    for (const int telnetLevel : {1, 2}) {
      SCOPED_TRACE("width " + std::to_string(width) + ", TELNET debug level " + std::to_string(telnetLevel));
      telnet_setDebugLevel(telnetLevel);
      testsupport::capture_clear();
      switchsim::SimOptions opts;
      opts.echo_password = true;
      opts.wrap_echo_columns = width;
      const switchtest::Played r = switchtest::play(f, address, sc, opts);
      std::printf("%s: width %d, TELNET debug %d: %d\n", f.family, width, telnetLevel, r.rc);
      if (r.rc != 0) {
        EXPECT_EQ(r.err.rfind(std::string("Error: ") + f.display + " switch=" + address + ": ", 0), 0u) << r.err;
      }
      const std::string log = testsupport::capture_text();
      for (const char* password : kPasswords) {
        EXPECT_EQ(firstPiece(log, password), "") << "a piece of " << password << " in the log";
        EXPECT_EQ(firstPiece(r.err, password), "") << "a piece of " << password << " in the error text:\n" << r.err;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Families, WrappingEcho, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<FamilyRow>& info) { return info.param.family; });

// A family that types the FTP password inside a longer command (Brocade's
// download command, Cisco IOS's archive command with the URL) against a
// console whose own echo of that command is wrapped after a few characters
// of the password, too few to be a piece worth masking on their own: both
// lines of the wrapped echo are quoted with every character of the
// password starred.
class WrappedEchoGuard : public switchtest::LogCapture {};

TEST_F(WrappedEchoGuard, EveryPartOfAPasswordTypedInsideACommandIsStarred) {
  const std::string pw = switchtest::kUrlPassword;
  const std::string url = "ftp://fwuser:" + pw + "@10.0.0.9/fw/image.bin";
  const struct {
    const char* family;
    ModuleEntry entry;
    const char* typedPrefix;  // the command up to the password
    std::string typedRest;    // and after it
  } families[] = {
      {"brocade", brocadeflash, "firmwaredownload -s \"10.0.0.9\",\"fwuser\",\"fw/image.bin\",\"", "\""},
      {"cisco", ciscoflash, "archive download-sw /overwrite ftp://fwuser:", "@10.0.0.9/fw/image.bin"},
  };
  telnet_setDebugLevel(2);
  for (const auto& f : families) {
    for (const std::size_t at : {1u, 2u, 4u, 7u}) {
      testsupport::capture_clear();
      modburn::set_time_scale(0.05);
      modburn::set_gap_scale(0.1);
      SCOPED_TRACE(std::string(f.family) + ": wrapped after " + std::to_string(at));
      const std::string sc = "include login.inc\nnoecho on\nexpect " + std::string(f.typedPrefix).substr(0, 16) +
                             "*\nsend \"" + switchsim::escape(f.typedPrefix + pw.substr(0, at)) + "\\r\\n" +
                             switchsim::escape(pw.substr(at) + f.typedRest) + "\\r\\n\"\nclose\n";
      switchsim::Scenario scenario;
      std::string error;
      ASSERT_TRUE(switchsim::parse_scenario(sc, switchsim::scenario_path(std::string(f.family) + "/inline.scn"),
                                            scenario, error))
          << error;
      const std::string address = switchtest::testAddress(209);
      switchsim::SimulatedSwitch sw;
      switchsim::SimOptions opts;
      opts.accept_timeout_ms = 20000;
      ASSERT_TRUE(sw.start(address, 23, scenario, opts, &error)) << error;
      const SwitchRequest req{address.c_str(), "admin", switchtest::kSwitchPassword, url.c_str(), false, 2, 0};
      char err[1000] = "";
      EXPECT_LT(f.entry(&req, err, sizeof err), 0) << err;
      sw.wait();
      // Neither line of the wrapped echo shows its part of the password, in
      // the error text or in the log.
      for (const std::string& text : {std::string(err), testsupport::capture_text()}) {
        EXPECT_EQ(text.find(pw.substr(0, at) + "\r\n"), std::string::npos) << text;
        EXPECT_EQ(text.find(pw.substr(0, at) + "\\r\\n"), std::string::npos) << text;
        EXPECT_EQ(text.find("\n" + pw.substr(at)), std::string::npos) << text;
        EXPECT_EQ(text.find("\\n" + pw.substr(at)), std::string::npos) << text;
      }
    }
  }
}

}  // namespace
