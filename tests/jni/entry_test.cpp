// The native methods against a stand-in VM (stand_in_vm.h) whose Switch
// texts may fail to convert and whose JNI functions may throw C++ exceptions.
// No C++ exception may leave a native method, and no JNI call may follow one
// that left an exception pending, but those the JNI allows then.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "com_corvane_qel_deployer_modburn_Switch.h"
#include "core/iostatus.h"
#include "core/log.h"
#include "jni/jniutil.h"
#include "stand_in_vm.h"
#include "support/capture_sink.h"
#include "telnet/telnet.h"

namespace {

using standin::env;
using standin::fake;
using standin::narrow;

class NativeMethods : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::install();
    modburn::jni::setAppLogger(&env, standin::logger());
    prevCore_ = io_setLogSink(&applogger);
    prevTelnet_ = telnet_setLogSink(&applogger);
  }
  void TearDown() override {
    fake.pending = false;
    fake.throwIn.clear();
    modburn::jni::setAppLogger(&env, nullptr);
    io_setLogSink(prevCore_);
    telnet_setLogSink(prevTelnet_);
  }

  void update(std::string fileurl) {
    jstring url = reinterpret_cast<jstring>(&fileurl);
    EXPECT_NO_THROW(Java_com_corvane_qel_deployer_modburn_Switch_update(&env, standin::switchSelf(), url, JNI_FALSE, 0));
  }
  std::string log() const {
    std::string all;
    for (const auto& entry : fake.logged) all += narrow(entry);
    return all;
  }

 private:
  LogSink prevCore_ = nullptr;
  LogSink prevTelnet_ = nullptr;
};

TEST_F(NativeMethods, UpdateEndsInOneSwitchExceptionOrOnePendingJavaException) {
  const struct {
    const char* name;
    int switchType;
    std::string fileurl;
    int failConversion;
    const char* throwIn;
    bool switchException;  // else the VM's own exception stays pending
    int code;
    std::string messageStart;
    std::string messageHolds;
    std::string logHolds;
    std::set<std::string> neverLogged;
  } rows[] = {
      {"no module for the family", 0, "tftp://10.0.0.9/f.bin", -1, "", true, IO_NOT_IMPLEMENTED,
       "SWITCH XXXFLASH NOT YET IMPLEMENTED", "", "update failed: error code=-99 (errmsg=SWITCH XXXFLASH", {}},
      {"a URL password holding a slash", 6, "ftp://fwuser:Ftp/9ass@10.0.0.9/fw/image.bin", -1, "", true,
       IO_INV_URL_LOGIN, "Error: Brocade switch=127.0.0.1: Invalid URL server login/password (IO_INV_URL_LOGIN): ",
       "percent-encoded (\"/\" as %2F)", "update failed: error code=-7", {"Ftp/9", "fwuser:Ftp", "9ass@"}},
      {"the address does not convert", 0, "tftp://10.0.0.9/f.bin", 0, "", false, 0, "", "", "", {"update"}},
      {"the user does not convert", 0, "tftp://10.0.0.9/f.bin", 1, "", false, 0, "", "", "", {"update"}},
      {"the password does not convert", 0, "tftp://10.0.0.9/f.bin", 2, "", false, 0, "", "", "", {"update"}},
      {"the URL does not convert", 0, "tftp://10.0.0.9/f.bin", 3, "", false, 0, "", "", "", {"update"}},
      {"a C++ exception inside", 0, "tftp://10.0.0.9/f.bin", -1, "GetIntField", true, IO_UPDATE_ERR,
       "Error: internal error of the library: boom in GetIntField", "", "modburn:update: internal error: boom in GetIntField\n",
       {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    fake = standin::Vm{};
    modburn::jni::setAppLogger(&env, standin::logger());
    fake.switchType = row.switchType;
    fake.failConversion = row.failConversion;
    fake.throwIn = row.throwIn;
    update(row.fileurl);
    fake.throwIn.clear();
    EXPECT_TRUE(fake.callsWhilePending.empty()) << "JNI called with an exception pending: " << fake.callsWhilePending[0];
    EXPECT_EQ(fake.releases, std::min(fake.conversions, row.failConversion < 0 ? 4 : row.failConversion))
        << "every text converted is released";
    EXPECT_TRUE(fake.pending) << "Java sees an exception";
    if (row.switchException) {
      ASSERT_EQ(fake.thrown.size(), 1u);
      EXPECT_EQ(fake.thrown[0].code, row.code);
      const std::string message = narrow(fake.thrown[0].message);
      EXPECT_EQ(message.rfind(row.messageStart, 0), 0u) << message;
      EXPECT_NE(message.find(row.messageHolds), std::string::npos) << message;
    } else {
      EXPECT_TRUE(fake.thrown.empty());
    }
    const std::string all = log();
    EXPECT_NE(all.find(row.logHolds), std::string::npos) << all;
    for (const std::string& text : row.neverLogged) EXPECT_EQ(all.find(text), std::string::npos) << text << " in\n" << all;
  }
}

TEST_F(NativeMethods, SetUpCallsLogTheirFailureAndReturn) {
  // A C++ exception inside each: nothing leaves the method, the failure is
  // logged (to a sink of the test: the logger is what fails here).
  testsupport::capture_clear();
  io_setLogSink(&testsupport::capture_sink);
  fake.throwIn = "NewGlobalRef";
  EXPECT_NO_THROW(Java_com_corvane_qel_deployer_modburn_Switch_setAppLogger(&env, nullptr, standin::logger()));
  fake.throwIn = "NewString";
  auto text = reinterpret_cast<jstring>(standin::switchSelf());
  EXPECT_NO_THROW(text = Java_com_corvane_qel_deployer_modburn_Switch_err2String(&env, nullptr, -3));
  EXPECT_EQ(text, nullptr);
  fake.throwIn.clear();
  const std::string all = testsupport::capture_text();
  EXPECT_NE(all.find("modburn:setAppLogger: internal error: boom in NewGlobalRef\n"), std::string::npos) << all;
  EXPECT_NE(all.find("modburn:err2String: internal error: boom in NewString\n"), std::string::npos) << all;

  // A log file name that does not convert: its exception stays pending, no
  // JNI call follows, and the log stays where it was.
  fake.failConversion = 0;
  std::string name = "/tmp/never-opened.log";
  Java_com_corvane_qel_deployer_modburn_Switch_setLogFile(&env, nullptr, reinterpret_cast<jstring>(&name));
  EXPECT_TRUE(fake.pending);
  EXPECT_TRUE(fake.callsWhilePending.empty()) << fake.callsWhilePending[0];
  EXPECT_EQ(io_getLogSink(), &testsupport::capture_sink);
}

}  // namespace
