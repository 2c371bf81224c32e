// Shared helpers of the switch tests: the core log captured per test, a
// loopback address of the test's own, and descriptor counting.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>

#include <string>

#include "com/timescale.h"
#include "core/log.h"
#include "support/capture_sink.h"
#include "telnet/telnet.h"

namespace switchtest {

// Routes the core's and the telnet layer's log into the capture store for the
// test and puts everything back afterwards.
class LogCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::capture_clear();
    prevCore_ = io_setLogSink(&testsupport::capture_sink);
    prevTelnet_ = telnet_setLogSink(&testsupport::capture_sink);
  }
  void TearDown() override {
    io_setLogSink(prevCore_);
    telnet_setLogSink(prevTelnet_);
    telnet_setDebugLevel(0);
    modburn::set_time_scale(1.0);
    modburn::set_gap_scale(1.0);
  }
  static std::string logText() { return testsupport::capture_text(); }

 private:
  LogSink prevCore_ = nullptr;
  LogSink prevTelnet_ = nullptr;
};

// A loopback address that belongs to the running test alone (tests run as
// parallel processes and all switches listen on port 23): 127.<net>.x.y
// from a hash of the test's full name.
inline std::string testAddress(int net) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  unsigned h = 2166136261u;
  for (unsigned char c : name) h = (h ^ c) * 16777619u;
  return "127." + std::to_string(net) + "." + std::to_string((h >> 8) & 0xff) + "." +
         std::to_string((h & 0xfe) + 1);
}

// Open descriptors of this process.
inline int openDescriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

}  // namespace switchtest
