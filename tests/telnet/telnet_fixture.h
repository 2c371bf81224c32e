// Shared fixture of the telnet tests: routes the layer's log into the capture
// sink at a chosen debug level and restores the previous state afterwards.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "com/timescale.h"
#include "support/capture_sink.h"
#include "support/scripted_server.h"
#include "telnet/telnet.h"
#include "telnet/telnet_internal.h"

class TelnetLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::capture_clear();
    prevSink_ = telnet_setLogSink(&testsupport::capture_sink);
    prevLevel_ = telnet_setDebugLevel(0);
  }
  void TearDown() override {
    telnet_setLogSink(prevSink_);
    telnet_setDebugLevel(prevLevel_);
    modburn::set_time_scale(1.0);
  }

 private:
  LogSink prevSink_ = nullptr;
  int prevLevel_ = 0;
};

// A session to a loopback server that plays script; closed with the scope
// unless the test closed it and set handle to -1.
struct LoopbackSession {
  explicit LoopbackSession(std::vector<testsupport::Step> script) : server(std::move(script)) {
    handle = telnet_open("127.0.0.1", server.port());
  }
  ~LoopbackSession() {
    if (handle >= 0) telnet_close(handle);
  }
  LoopbackSession(const LoopbackSession&) = delete;
  LoopbackSession& operator=(const LoopbackSession&) = delete;
  testsupport::ScriptedServer server;
  TelnetHandle handle = -1;
};

// Bytes given by their values, for TELNET commands in scripts.
inline std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}
