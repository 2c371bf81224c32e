// Every family against hostile consoles: after the first line the library
// types, and again half-way through and just before the end of its normal
// update, the switch floods 10 MB without a line end, floods TELNET commands
// and subnegotiations, chatters a progress line for ever, prints NUL and
// 0xFF bytes, opens a subnegotiation that never ends, drips one byte at a
// time without a line end, or prints terminal sequences and C1 controls; and
// a switch echoes every byte twice throughout. Each run must
// end in bounded time with a failure (the echo may still succeed), with log
// entries of bounded length, no password in them, no control character
// that reaches the log or the error text raw, and with progress events that
// are escaped, hold no password and end with the outcome.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "com/timescale.h"
#include "core/iostatus.h"
#include "families.h"
#include "secret_pieces.h"

namespace {

using switchtest::FamilyRow;
using switchtest::kFamilies;

// The first control character a person would get raw from text, shown as
// its code ("" when none): a C0 byte or DEL but a line feed and the carriage
// return right before one, a C1 byte outside UTF-8, or a C1 control in UTF-8
// (0xC2 0x80 to 0xC2 0x9F).
std::string rawControl(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    const auto before = i > 0 ? static_cast<unsigned char>(text[i - 1]) : 0;
    const bool lineEnd = b == '\n' || (b == '\r' && i + 1 < text.size() && text[i + 1] == '\n');
    const bool c0 = (b < 0x20 || b == 0x7f) && !lineEnd;
    const bool c1 = b >= 0x80 && b <= 0x9f && (before < 0x80 || before == 0xc2);
    if (c0 || c1) return "byte " + std::to_string(b) + " at " + std::to_string(i);
  }
  return "";
}

class Hostile : public switchtest::LogCapture, public ::testing::WithParamInterface<FamilyRow> {};

// The longest log entry the library may write: its line buffers are 5000
// bytes at most (an escaped response, a trace of the tail).
constexpr std::size_t kLongestEntry = 10100;

TEST_P(Hostile, EveryHostileConsoleEndsInBoundedTimeAsAFailure) {
  const FamilyRow& f = GetParam();
  telnet_setDebugLevel(2);
  switchsim::Scenario sc;
  std::string error;
  ASSERT_TRUE(switchtest::loadNormal(f, sc, error)) << error;
  modburn::set_time_scale(0.01);
  modburn::set_gap_scale(0.1);
  const std::string address = switchtest::testAddress(207);
  const int before = switchtest::openDescriptors();
  const switchtest::Played normal = switchtest::play(f, address, sc, {});
  ASSERT_EQ(normal.rc, 0) << "the plain update must succeed\n" << normal.err;
  const int lines = static_cast<int>(normal.session.received.size());

  const struct {
    switchsim::Fault fault;
    const char* name;
  } kinds[] = {{switchsim::Fault::Flood, "10 MB without a line end"},
               {switchsim::Fault::IacFlood, "TELNET command flood"},
               {switchsim::Fault::Chatter, "progress for ever"},
               {switchsim::Fault::Garbage, "NUL and 0xFF bytes"},
               {switchsim::Fault::EndlessSub, "a subnegotiation without end"},
               // A byte every 10 ms, below the line gap (25 ms here): a line
               // that only the wait's overall limit can end.
               {switchsim::Fault::Drip, "a byte now and then, never a line end"},
               {switchsim::Fault::Escapes, "terminal sequences and C1 controls"}};
  std::vector<int> points = {1, std::max(1, lines / 2), std::max(1, lines - 1)};
  points.erase(std::unique(points.begin(), points.end()), points.end());
  for (const auto& kind : kinds) {
    for (const int k : points) {
      SCOPED_TRACE(std::string(kind.name) + " after line " + std::to_string(k));
      switchsim::SimOptions opts;
      opts.fault = kind.fault;
      opts.fault_after_lines = k;
      opts.stall_max_ms = 30000;  // the library must end it long before
      opts.flood_bytes = kind.fault == switchsim::Fault::IacFlood ? 1024 * 1024 : 10 * 1024 * 1024;
      opts.drip_ms = 10;
      opts.echo_password = true;
      // Once the switch turns hostile nothing more is needed of the dialogue:
      // even its longest waits may then end quickly.
      modburn::set_time_scale(0.01);
      opts.transcript = [](const std::string& line) {
        if (line.rfind("= fault:", 0) == 0) modburn::set_time_scale(0.0001);
      };
      const auto start = std::chrono::steady_clock::now();
      switchtest::Recorder progress;
      const switchtest::Played r = switchtest::play(f, address, sc, opts, &progress);
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::printf("%s: %s after line %d: %d in %.1f s\n", f.family, kind.name, k, r.rc, seconds);
      ASSERT_TRUE(r.session.fault_fired);
      EXPECT_LT(r.rc, 0) << r.err;
      EXPECT_EQ(r.err.rfind(std::string("Error: ") + f.display + " switch=" + address + ": ", 0), 0u) << r.err;
      EXPECT_LT(seconds, 25.0) << "the switch had to give up first";
      EXPECT_LE(r.err.size(), 999u);
      EXPECT_EQ(rawControl(r.err), "") << r.err;
      for (const char* secret : {switchtest::kSwitchPassword, switchtest::kUrlPassword}) {
        EXPECT_EQ(switchtest::firstPiece(r.err, secret), "") << "a piece of " << secret << " in " << r.err;
      }
      switchtest::expectCleanEvents(progress, r.rc);
    }
  }
  modburn::set_time_scale(0.01);
  {
    SCOPED_TRACE("every byte echoed twice");
    switchsim::SimOptions opts;
    opts.echo_twice = true;
    opts.echo_password = true;
    const switchtest::Played r = switchtest::play(f, address, sc, opts);
    if (r.rc != 0) {
      EXPECT_EQ(r.err.rfind(std::string("Error: ") + f.display + " switch=", 0), 0u) << r.err;
    }
  }
  std::size_t longest = 0;
  for (const std::string& entry : testsupport::capture_entries()) {
    longest = std::max(longest, entry.size());
    EXPECT_EQ(rawControl(entry), "") << entry.substr(0, 300);
  }
  EXPECT_LE(longest, kLongestEntry);
  const std::string log = testsupport::capture_text();
  for (const char* secret : {switchtest::kSwitchPassword, switchtest::kUrlPassword}) {
    EXPECT_EQ(switchtest::firstPiece(log, secret), "") << "a piece of " << secret << " in the log";
  }
  EXPECT_EQ(switchtest::openDescriptors(), before) << "a session was left open";
}

INSTANTIATE_TEST_SUITE_P(Families, Hostile, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<FamilyRow>& info) { return info.param.family; });

}  // namespace
