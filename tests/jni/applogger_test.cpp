// The Java-logger sink against a stand-in VM (stand_in_vm.h).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "com/secrets.h"
#include "core/log.h"
#include "jni/jniutil.h"
#include "stand_in_vm.h"

namespace fs = std::filesystem;

namespace {

using standin::env;
using standin::fake;

std::u16string u16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

class AppLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::install();
    logFile_ = fs::temp_directory_path() / ("modburn_applogger_" + std::to_string(::getpid()) + ".log");
    fs::remove(logFile_);
    modburnlog_close();
    modburnlog_open(logFile_.c_str());
  }
  void TearDown() override {
    EXPECT_TRUE(fake.callsWhilePending.empty()) << "Java called with an exception pending";
    modburn::jni::setAppLogger(&env, nullptr);
    EXPECT_EQ(fake.globalRefs, 0);
    modburnlog_close();
    fs::remove(logFile_);
  }
  void holdLogger() { modburn::jni::setAppLogger(&env, standin::logger()); }
  // Entries of the log file after its banner.
  std::string fileEntries() const {
    std::ifstream in(logFile_);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string all = ss.str();
    return all.substr(all.find('\n') + 1);
  }

  fs::path logFile_;
};

TEST_F(AppLoggerTest, HandsEachEntryToTheLoggerCutTo499Characters) {
  holdLogger();
  applogger("update succeeded: switchType=%d\n", 6);
  const std::string longEntry(600, 'z');
  applogger("%s", longEntry.c_str());
  ASSERT_EQ(fake.logged.size(), 2u);
  EXPECT_EQ(fake.logged[0], u"update succeeded: switchType=6\n");
  EXPECT_EQ(fake.logged[1], u16(longEntry.substr(0, 499)));
  EXPECT_EQ(fileEntries(), "");
}

TEST_F(AppLoggerTest, MasksSecretsOfTheCallingThread) {
  holdLogger();
  modburn::SecretScope scope{"t0pS3cret"};
  applogger("update failed: error code=%d (errmsg=%s)\n", -3, "login t0pS3cret refused");
  ASSERT_EQ(fake.logged.size(), 1u);
  EXPECT_EQ(fake.logged[0], u"update failed: error code=-3 (errmsg=login ********* refused)\n");
}

TEST_F(AppLoggerTest, AThrowingLoggerIsDescribedAndCleared) {
  holdLogger();
  fake.logThrows = true;
  applogger("first\n");
  applogger("second\n");
  EXPECT_EQ(fake.logged.size(), 2u);
  EXPECT_EQ(fake.describes, 2);
  EXPECT_FALSE(fake.pending);
}

TEST_F(AppLoggerTest, EntriesThatCannotReachJavaGoToTheLogFile) {
  const struct {
    const char* name;
    bool holdLogger;
    jint getEnvResult;
    bool hasLogMethod;
    bool pending;
    int describes;
  } rows[] = {
      {"no logger held", false, JNI_OK, true, false, 0},
      {"thread not attached", true, JNI_EDETACHED, true, false, 0},
      {"logger without log method", true, JNI_OK, false, false, 1},
      {"exception already pending", true, JNI_OK, true, true, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    modburnlog_close();
    fs::remove(logFile_);
    modburnlog_open(logFile_.c_str());
    fake = standin::Vm{};
    if (row.holdLogger) holdLogger();
    fake.getEnvResult = row.getEnvResult;
    fake.hasLogMethod = row.hasLogMethod;
    fake.pending = row.pending;
    applogger("entry %d\n", 42);
    EXPECT_TRUE(fake.logged.empty());
    EXPECT_EQ(fake.describes, row.describes);
    EXPECT_TRUE(fake.callsWhilePending.empty()) << "Java called with an exception pending";
    const std::string entries = fileEntries();
    EXPECT_EQ(entries.size(), 20u + 9u) << entries;
    EXPECT_EQ(entries.substr(20), "entry 42\n");
    fake.pending = false;
    fake.getEnvResult = JNI_OK;
    modburn::jni::setAppLogger(&env, nullptr);
  }
}

// A SourceLogger is told where each entry comes from; a plain logger gets
// the same entries through log(String).
TEST_F(AppLoggerTest, ASourceLoggerIsToldWhereEachEntryComesFrom) {
  const struct {
    const char* name;
    void (*sink)(const char*, ...);
    const char* entry;
    jint source;  // Switch.SourceLogger's numbering
  } rows[] = {
      {"a library line", &applogger, "brocadeflash:connect:10.0.0.5: connected\n", 0},
      {"the outcome of a success", &applogger, "update succeeded: switchType=6\n", 0},
      {"the line of a failed update", &applogger, "update failed: error code=-13 (errmsg=time-out)\n", 1},
      {"a failure quoted inside a line", &applogger, "sasflash: update failed: retrying\n", 0},
      {"the telnet layer's trace", &telnet_applogger, "telnet_open:7: connect failed, errno=111\n", 2},
      {"the telnet layer's trace, whatever it says", &telnet_applogger, "update failed: not a library line\n", 2},
  };
  for (const bool sourceLogger : {true, false}) {
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(row.name) + (sourceLogger ? " (SourceLogger)" : " (plain logger)"));
      fake = standin::Vm{};
      fake.sourceLogger = sourceLogger;
      holdLogger();
      row.sink("%s", row.entry);
      ASSERT_EQ(fake.logged.size(), 1u);
      EXPECT_EQ(fake.logged[0], u16(row.entry));
      EXPECT_EQ(fake.sources, sourceLogger ? std::vector<jint>{row.source} : std::vector<jint>{});
      modburn::jni::setAppLogger(&env, nullptr);
    }
  }
  EXPECT_EQ(fileEntries(), "");
}

TEST_F(AppLoggerTest, WithoutVmOnlyComplains) {
  JNI_OnLoad(nullptr, nullptr);
  testing::internal::CaptureStderr();
  applogger("lost\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "applogger: this_jvm is NULL. BAD!\n");
  EXPECT_EQ(fileEntries(), "");
}

}  // namespace
