#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "com/secrets.h"
#include "telnet_fixture.h"

using testsupport::capture_entries;
using testsupport::capture_text;

namespace {

struct StatusText {
  int code;
  const char* text;
};

const StatusText kStatusTexts[] = {
    {0, "SUCCESS"},
    {-1, "Invalid/unknown host name or IP Address"},
    {-2, "Could not connect"},
    {-3, "Connection lost"},
    {-4, "Operation timed out"},
    {-5, "Bad telnet handle"},
    {-6, "No match"},
    {-7, "Regex error"},
    {-8, "Bad buffer"},
    {-9, "Bad string or pattern data"},
    {-10, "Bad initialization"},
    {-11, "No protocol stack for IP(v4/v6) Address"},
    {7, "Unknown error=7"},
    {-12, "Unknown error=-12"},
    {1, "Unknown error=1"},
};

}  // namespace

TEST(TelnetStatusText, EveryCodeHasItsText) {
  for (const auto& row : kStatusTexts) {
    EXPECT_STREQ(telnet_strerror(row.code), row.text) << "code " << row.code;
  }
}

TEST(TelnetStatusText, UnknownCodeTextIsPerThread) {
  const char* mine = telnet_strerror(42);
  std::string theirs;
  std::thread([&] {
    theirs = telnet_strerror(43);
  }).join();
  EXPECT_STREQ(mine, "Unknown error=42");
  EXPECT_EQ(theirs, "Unknown error=43");
}

TEST(TelnetSockError, GivesTheSystemText) {
  EXPECT_STREQ(sockErrorText(ECONNREFUSED), std::strerror(ECONNREFUSED));
  EXPECT_STREQ(sockErrorText(EBADF), std::strerror(EBADF));
  EXPECT_NE(std::string(sockErrorText(99999)), "");
}

TEST(TelnetStartUp, InitSucceedsAndFinishIsHarmless) {
  EXPECT_EQ(telnet_init(), TELNET_SUCCESS);
  telnet_finish();
  EXPECT_EQ(telnet_init(), TELNET_SUCCESS);
}

using TelnetLogit = TelnetLogTest;

TEST_F(TelnetLogit, LevelAndSinkReturnTheirPreviousValues) {
  EXPECT_EQ(telnet_setDebugLevel(2), 0);
  EXPECT_EQ(telnet_getDebugLevel(), 2);
  EXPECT_EQ(telnet_setDebugLevel(-1), 2);
  EXPECT_EQ(telnet_setLogSink(nullptr), &testsupport::capture_sink);
  EXPECT_EQ(telnet_setLogSink(&testsupport::capture_sink), nullptr);
}

TEST_F(TelnetLogit, PassesTheEntryUnchangedWithItsOwnLineEnd) {
  logit("telnet_read:%d: Server end shut down\n", 5);
  logit("no line end %s", "here");
  const auto entries = capture_entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], "telnet_read:5: Server end shut down\n");
  EXPECT_EQ(entries[1], "no line end here");
}

TEST_F(TelnetLogit, NullSinkSilencesEverything) {
  telnet_setLogSink(nullptr);
  testing::internal::CaptureStderr();
  logit("something %d\n", 1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(capture_entries().empty());
  EXPECT_EQ(err, "");
}

TEST_F(TelnetLogit, BuiltInWriterWritesToStandardError) {
  telnet_setLogSink(&telnet_stderr_sink);
  testing::internal::CaptureStderr();
  logit("to stderr %s\n", "100%");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "to stderr 100%\n");
}

TEST_F(TelnetLogit, LongEntryIsCutTo1999CharactersWithANoteOnStandardError) {
  const std::string longText(2500, 'x');
  testing::internal::CaptureStderr();
  logit("%s", longText.c_str());
  const std::string err = testing::internal::GetCapturedStderr();
  const auto entries = capture_entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0], std::string(1999, 'x'));
  EXPECT_EQ(err, "logit: truncated string\n");

  testsupport::capture_clear();
  testing::internal::CaptureStderr();
  logit("%s", std::string(1999, 'y').c_str());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(capture_entries().at(0).size(), 1999u);
}

TEST_F(TelnetLogit, MasksRegisteredSecretsBeforeTheSinkSeesThem) {
  modburn::SecretScope scope{"Hunter2!"};
  logit("login: user=%s pw=%s\n", "admin", "Hunter2!");
  EXPECT_EQ(capture_text(), "login: user=admin pw=********\n");
}

TEST_F(TelnetLogit, SecretCutByTheTruncationIsMaskedToo) {
  modburn::SecretScope scope{"ABCDEFGH"};
  // The secret starts 4 characters before the cut at 1999.
  const std::string text = std::string(1995, '.') + "ABCDEFGH" + std::string(100, '.');
  testing::internal::CaptureStderr();
  logit("%s", text.c_str());
  testing::internal::GetCapturedStderr();
  const auto entries = capture_entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].size(), 1999u);
  EXPECT_EQ(entries[0].substr(1995), "****");
}
