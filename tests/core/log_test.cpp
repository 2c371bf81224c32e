#include "core/log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "com/secrets.h"
#include "support/capture_sink.h"

namespace fs = std::filesystem;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

// True when text has the shape: 'N' a digit, 'A' a letter, '_' a blank or a
// digit, any other character itself.
bool hasShape(const std::string& text, const std::string& shape) {
  if (text.size() != shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (shape[i]) {
      case 'N': if (!std::isdigit(c)) return false; break;
      case 'A': if (!std::isalpha(c)) return false; break;
      case '_': if (c != ' ' && !std::isdigit(c)) return false; break;
      default: if (text[i] != shape[i]) return false;
    }
  }
  return true;
}

// The ctime text that follows a banner: "Tue Dec  8 10:07:00 2026\n".
const std::string kCtimeShape = "AAA AAA _N NN:NN:NN NNNN\n";
// The 20-character prefix of every file entry: "2026.12.08 10:07:00 ".
const std::string kStampShape = "NNNN.NN.NN NN:NN:NN ";

bool isBanner(const std::string& line, const std::string& prefix) {
  return line.rfind(prefix, 0) == 0 && hasShape(line.substr(prefix.size()), kCtimeShape);
}
bool isOpened(const std::string& line) { return isBanner(line, "===== Switch/MODBURN Log opened "); }
bool isClosed(const std::string& line) { return isBanner(line, "~~~~~ Switch/MODBURN Log closed "); }

// True when line is one file entry: a timestamp followed by body.
bool isEntry(const std::string& line, const std::string& body) {
  return line.size() == kStampShape.size() + body.size() &&
         hasShape(line.substr(0, kStampShape.size()), kStampShape) && line.substr(kStampShape.size()) == body;
}

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size() - 1;
    out.push_back(text.substr(start, end - start + 1));
    start = end + 1;
  }
  return out;
}

// Every test starts and ends with no log file and the standard-error sink.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    modburnlog_close();
    io_setLogSink(&io_stderr_sink);
    testsupport::capture_clear();
    dir_ = fs::temp_directory_path() /
           ("modburn_log_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    modburnlog_close();
    io_setLogSink(&io_stderr_sink);
    fs::remove_all(dir_);
  }
  fs::path file(const char* name) const { return dir_ / name; }

  fs::path dir_;
};

// A sink that records the format text it was called with.
std::string gLastFormat;
void formatRecordingSink(const char* format, ...) { gLastFormat = format; }

TEST_F(LogTest, IoLogCutsEntriesTo1999Characters) {
  io_setLogSink(&testsupport::capture_sink);
  const std::size_t lengths[] = {0, 1, 1998, 1999, 2000, 2500};
  for (std::size_t len : lengths) {
    testsupport::capture_clear();
    const std::string entry(len, 'x');
    io_log("%s", entry.c_str());
    const auto got = testsupport::capture_entries();
    ASSERT_EQ(got.size(), 1u) << len;
    EXPECT_EQ(got[0], entry.substr(0, 1999)) << len;
  }
}

TEST_F(LogTest, IoLogHandsTheSinkItsEntryAsOneString) {
  io_setLogSink(&formatRecordingSink);
  io_log("%d%%%s\n", 5, "x");
  EXPECT_EQ(gLastFormat, "%s");
  io_setLogSink(&testsupport::capture_sink);
  io_log("brocadeflash:update:%s: fileurl=%s\n", "10.0.0.1", "ftp://srv/f");
  EXPECT_EQ(testsupport::capture_text(), "brocadeflash:update:10.0.0.1: fileurl=ftp://srv/f\n");
}

TEST_F(LogTest, SinkSetterReturnsThePreviousSinkAndNullDiscards) {
  EXPECT_EQ(io_setLogSink(&testsupport::capture_sink), &io_stderr_sink);
  EXPECT_EQ(io_getLogSink(), &testsupport::capture_sink);
  EXPECT_EQ(io_setLogSink(nullptr), &testsupport::capture_sink);
  CaptureStdout();
  CaptureStderr();
  io_log("dropped\n");
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_TRUE(testsupport::capture_entries().empty());
}

TEST_F(LogTest, StandardErrorSinkWritesTheEntry) {
  CaptureStderr();
  io_log("io_init failure: telnet_init returned %d (%s)\n", -10, "Bad initialization");
  EXPECT_EQ(GetCapturedStderr(), "io_init failure: telnet_init returned -10 (Bad initialization)\n");
}

TEST_F(LogTest, SecretsAreMaskedEvenWhereTheCutSplitsThem) {
  io_setLogSink(&testsupport::capture_sink);
  modburn::SecretScope scope{"Sw1tchPw"};
  io_log("login: user=admin pw=%s\n", "Sw1tchPw");
  // The secret straddles the 1999th character: not even its head survives.
  const std::string padding(1995, '.');
  io_log("%s%s tail", padding.c_str(), "Sw1tchPw");
  const auto got = testsupport::capture_entries();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], "login: user=admin pw=********\n");
  EXPECT_EQ(got[1], padding + "****");
}

// Whatever a console sent, an entry reaches the sink and the file with every
// control character escaped; line ends stay where they are.
TEST_F(LogTest, ControlCharactersReachNoSinkRaw) {
  const struct {
    const char* name;
    std::string entry;
    std::string logged;
  } rows[] = {
      {"terminal sequences", "got \x1b[2J\x1b]0;pwned\a\n", "got \\x1b[2J\\x1b]0;pwned\\a\n"},
      {"C1 controls", "got \x9b" "31m\xc2\x9b" "0m\n", "got \\x9b31m\\xc2\\x9b0m\n"},
      {"a bare carriage return", "ok\rFAILED\n", "ok\\rFAILED\n"},
      {"NUL-free bytes outside UTF-8", "\xff\xfe x\n", "\\xff\\xfe x\n"},
      {"line ends and UTF-8 kept", "a\r\nb\nd\xc3\xa9j\xc3\xa0\n", "a\r\nb\nd\xc3\xa9j\xc3\xa0\n"},
  };
  const fs::path p = file("a.log");
  modburnlog_open(p.c_str());
  for (const auto& row : rows) {
    io_setLogSink(&testsupport::capture_sink);
    testsupport::capture_clear();
    io_log("%s", row.entry.c_str());
    EXPECT_EQ(testsupport::capture_text(), row.logged) << row.name;
    modburnlog("%s", row.entry.c_str());
  }
  modburnlog_close();
  const std::string file = readFile(p);
  for (const auto& row : rows) EXPECT_NE(file.find(row.logged), std::string::npos) << row.name << " in\n" << file;
}

TEST_F(LogTest, FileGetsBannerThenTimestampedEntries) {
  const fs::path p = file("a.log");
  EXPECT_EQ(modburnlog_open(p.c_str()), 0);
  io_setLogSink(&modburnlog);
  io_log("first %d\n", 1);
  io_log("sasflash:%s: retrying update", "10.1.1.1");
  io_log("next\n");
  modburnlog_close();
  const auto got = lines(readFile(p));
  ASSERT_EQ(got.size(), 4u) << readFile(p);
  EXPECT_TRUE(isOpened(got[0])) << got[0];
  EXPECT_TRUE(isEntry(got[1], "first 1\n")) << got[1];
  // An entry without a line end is followed on the same line by the next one.
  const std::string first = "sasflash:10.1.1.1: retrying update";
  ASSERT_GT(got[2].size(), kStampShape.size() + first.size());
  EXPECT_TRUE(isEntry(got[2].substr(0, kStampShape.size() + first.size()), first)) << got[2];
  EXPECT_TRUE(isEntry(got[2].substr(kStampShape.size() + first.size()), "next\n")) << got[2];
  EXPECT_TRUE(isClosed(got[3])) << got[3];
}

TEST_F(LogTest, FileIsAppendedNotTruncated) {
  const fs::path p = file("a.log");
  { std::ofstream(p) << "earlier run\n"; }
  modburnlog_open(p.c_str());
  modburnlog_close();
  EXPECT_EQ(lines(readFile(p)).at(0), "earlier run\n");
  EXPECT_EQ(lines(readFile(p)).size(), 3u);
}

TEST_F(LogTest, FileEntriesAreNotCut) {
  const fs::path p = file("a.log");
  modburnlog_open(p.c_str());
  const std::string longEntry(5000, 'y');
  modburnlog("%s\n", longEntry.c_str());
  modburnlog_close();
  EXPECT_TRUE(isEntry(lines(readFile(p)).at(1), longEntry + "\n"));
}

TEST_F(LogTest, SecondOpenWhileOpenChangesNothing) {
  const fs::path a = file("a.log"), b = file("b.log");
  modburnlog_open(a.c_str());
  EXPECT_EQ(modburnlog_open(b.c_str()), 0);
  modburnlog("%s", "still here\n");
  EXPECT_FALSE(fs::exists(b));
  EXPECT_NE(readFile(a).find("still here\n"), std::string::npos);
}

TEST_F(LogTest, ReopenClosesTheFirstFileAndOpensTheSecond) {
  const fs::path a = file("a.log"), b = file("b.log");
  modburnlog_open(a.c_str());
  modburnlog("%s", "to a\n");
  EXPECT_EQ(modburnlog_reopen(b.c_str()), 0);
  modburnlog("%s", "to b\n");
  const auto la = lines(readFile(a)), lb = lines(readFile(b));
  ASSERT_EQ(la.size(), 3u);
  EXPECT_TRUE(isClosed(la[2]));
  ASSERT_EQ(lb.size(), 2u);
  EXPECT_TRUE(isOpened(lb[0]));
  EXPECT_TRUE(isEntry(lb[1], "to b\n"));
}

TEST_F(LogTest, WithoutFileEachEntryBecomesAProblemLine) {
  io_setLogSink(&modburnlog);
  CaptureStdout();
  io_log("lost entry\n");
  modburnlog("direct %d\n", 7);
  EXPECT_EQ(GetCapturedStdout(),
            "PROBLEM: modburnlog called prior to modburn_open (%s)\n"
            "PROBLEM: modburnlog called prior to modburn_open (direct %d\n)\n");
}

TEST_F(LogTest, ClosedFileTakesNoMoreEntries) {
  const fs::path p = file("a.log");
  modburnlog_open(p.c_str());
  modburnlog_close();
  modburnlog_close();  // a second close does nothing
  CaptureStdout();
  modburnlog("%s", "late\n");
  EXPECT_NE(GetCapturedStdout().find("PROBLEM"), std::string::npos);
  const auto got = lines(readFile(p));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(isClosed(got[1]));
}

TEST_F(LogTest, MissingNameLogsToStandardErrorAndClosingItClearsIt) {
  const char* names[] = {nullptr, ""};
  for (const char* name : names) {
    CaptureStderr();
    modburnlog_open(name);
    modburnlog("%s", "on stderr\n");
    modburnlog_close();
    const auto got = lines(GetCapturedStderr());
    ASSERT_EQ(got.size(), 3u);
    EXPECT_TRUE(isOpened(got[0])) << got[0];
    EXPECT_TRUE(isEntry(got[1], "on stderr\n")) << got[1];
    EXPECT_TRUE(isClosed(got[2])) << got[2];
  }
  // Closing standard error cleared it: a named file is reachable again.
  const fs::path p = file("after.log");
  modburnlog_open(p.c_str());
  modburnlog("%s", "in the file\n");
  EXPECT_NE(readFile(p).find("in the file\n"), std::string::npos);
}

TEST_F(LogTest, UnopenableFileFallsBackToStandardError) {
  const fs::path p = file("no/such/dir/x.log");
  CaptureStderr();
  modburnlog_open(p.c_str());
  modburnlog("%s", "fallback\n");
  modburnlog_close();
  const auto got = lines(GetCapturedStderr());
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0], "modburnlog_open: fopen(" + p.string() + ") error, errno=2\n");
  EXPECT_TRUE(isOpened(got[1]));
  EXPECT_TRUE(isEntry(got[2], "fallback\n"));
  EXPECT_TRUE(isClosed(got[3]));
}

TEST_F(LogTest, ConcurrentEntriesReachTheFilesWholeWhileFilesSwitch) {
  const fs::path a = file("a.log"), b = file("b.log");
  modburnlog_open(a.c_str());
  io_setLogSink(&modburnlog);
  constexpr int kThreads = 6, kEntries = 300;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t] {
      const std::string body(150, static_cast<char>('a' + t));
      for (int i = 0; i < kEntries; ++i) io_log("writer %d entry %d %s\n", t, i, body.c_str());
    });
  }
  std::thread switcher([&] {
    for (int i = 0; i < 50; ++i) modburnlog_reopen((i % 2 ? a : b).c_str());
  });
  CaptureStdout();
  for (auto& w : writers) w.join();
  switcher.join();
  modburnlog_close();
  EXPECT_EQ(GetCapturedStdout(), "") << "an entry found the log without a file";

  std::vector<std::vector<int>> seen(kThreads);
  for (const auto& p : {a, b}) {
    for (const auto& line : lines(readFile(p))) {
      if (isOpened(line) || isClosed(line)) continue;
      int t = -1, i = -1;
      ASSERT_EQ(std::sscanf(line.c_str() + std::min(line.size(), kStampShape.size()), "writer %d entry %d", &t, &i), 2)
          << "broken entry: " << line;
      ASSERT_TRUE(t >= 0 && t < kThreads) << line;
      const std::string body =
          "writer " + std::to_string(t) + " entry " + std::to_string(i) + " " + std::string(150, 'a' + t) + "\n";
      ASSERT_TRUE(isEntry(line, body)) << "broken entry: " << line;
      seen[static_cast<std::size_t>(t)].push_back(i);
    }
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[static_cast<std::size_t>(t)].size(), kEntries) << t;
}

}  // namespace
