#include "core/addr.h"

#include <gtest/gtest.h>

#include <string>

#include "core/log.h"
#include "support/capture_sink.h"

using testsupport::capture_count;
using testsupport::capture_entries;
using testsupport::capture_text;

namespace {

struct AddrCase {
  const char* addr;
  int cls;
  const char* host;      // expected host part (valid classes only)
  const char* portText;  // expected port text, or null for none
  int port;
};

const AddrCase kAddrs[] = {
    {"10.0.0.1", ADDR_IPV4, "10.0.0.1", nullptr, 0},
    {"10.0.0.1:23", ADDR_IPV4, "10.0.0.1", "23", 23},
    {"192.168.70.125:49151", ADDR_IPV4, "192.168.70.125", "49151", 49151},
    {"10.0.0.256", ADDR_INVALID, nullptr, nullptr, 0},
    {"1.2.3.4.5", ADDR_INVALID, nullptr, nullptr, 0},
    {"[fe80::1]:2323", ADDR_IPV6, "fe80::1", "2323", 2323},
    {"[fe80::1]", ADDR_IPV6, "fe80::1", nullptr, 0},
    {"[::1]junk:23", ADDR_IPV6, "::1", "23", 23},
    {"[fe80::1", ADDR_INVALID, nullptr, nullptr, 0},
    {"[10.0.0.1]", ADDR_INVALID, nullptr, nullptr, 0},
    {"[]", ADDR_INVALID, nullptr, nullptr, 0},
    {"fe80::1", ADDR_INVALID, nullptr, nullptr, 0},
    {"switch_a1", ADDR_HOSTNAME, "switch_a1", nullptr, 0},
    {"Sw1:2323", ADDR_HOSTNAME, "Sw1", "2323", 2323},
    {"switch-a1", ADDR_INVALID, nullptr, nullptr, 0},
    {"1switch", ADDR_INVALID, nullptr, nullptr, 0},
    {"_sw", ADDR_INVALID, nullptr, nullptr, 0},
    {"sw\xe9", ADDR_INVALID, nullptr, nullptr, 0},
    {"host:", ADDR_INVALID, nullptr, nullptr, 0},
    {"host:0", ADDR_INVALID, nullptr, nullptr, 0},
    {"host:-5", ADDR_INVALID, nullptr, nullptr, 0},
    {"host:49151", ADDR_HOSTNAME, "host", "49151", 49151},
    {"host:49152", ADDR_INVALID, nullptr, nullptr, 0},
    {"host:99999999999999999999", ADDR_INVALID, nullptr, nullptr, 0},
    {"host: 23x", ADDR_HOSTNAME, "host", " 23x", 23},
    {"host:+8", ADDR_HOSTNAME, "host", "+8", 8},
    {":23", ADDR_INVALID, nullptr, nullptr, 0},
    {"a]b", ADDR_INVALID, nullptr, nullptr, 0},
    {"", ADDR_INVALID, nullptr, nullptr, 0},
};

class IoClassifyAddr : public ::testing::TestWithParam<AddrCase> {
 protected:
  void SetUp() override { prev_ = io_setLogSink(&testsupport::capture_sink); }
  void TearDown() override { io_setLogSink(prev_); }
  LogSink prev_ = nullptr;
};

}  // namespace

TEST_P(IoClassifyAddr, ClassesAndParts) {
  const AddrCase& c = GetParam();
  char copy[200];
  std::snprintf(copy, sizeof copy, "%s", c.addr);
  char* host = reinterpret_cast<char*>(1);
  char* portText = reinterpret_cast<char*>(1);
  int port = -7;
  ASSERT_EQ(io_classifyAddr(copy, &host, &portText, &port), c.cls);
  if (c.cls == ADDR_INVALID) {
    EXPECT_EQ(port, -7);  // outputs untouched
    return;
  }
  EXPECT_STREQ(host, c.host);
  if (c.portText == nullptr) {
    EXPECT_EQ(portText, nullptr);
  } else {
    EXPECT_STREQ(portText, c.portText);
  }
  EXPECT_EQ(port, c.port);
  // The parts point into the caller's copy.
  EXPECT_TRUE(host >= copy && host < copy + sizeof copy);
}

INSTANTIATE_TEST_SUITE_P(Addresses, IoClassifyAddr, ::testing::ValuesIn(kAddrs));

TEST(IoClassifyAddrMisuse, NullInputsAndOutputs) {
  EXPECT_EQ(io_classifyAddr(nullptr, nullptr, nullptr, nullptr), ADDR_INVALID);
  char a[] = "10.0.0.1:23";
  EXPECT_EQ(io_classifyAddr(a, nullptr, nullptr, nullptr), ADDR_IPV4);
}

TEST(IoAddrTests, ResolverDecidesAndLogsItsRefusal) {
  const LogSink prev = io_setLogSink(&testsupport::capture_sink);
  testsupport::capture_clear();
  EXPECT_EQ(io_isValidIPv4Addr("127.0.0.1"), 1);
  EXPECT_EQ(io_isValidIPv6Addr("::1"), 1);
  EXPECT_TRUE(capture_entries().empty()) << capture_text();
  EXPECT_EQ(io_isValidIPv4Addr("::1"), 0);
  EXPECT_EQ(io_isValidIPv6Addr("127.0.0.1"), 0);
  EXPECT_EQ(io_isValidIPv4Addr("switch"), 0);
  EXPECT_EQ(io_isValidIPv4Addr(""), 0);
  EXPECT_EQ(io_isValidIPv6Addr(nullptr), 0);
  EXPECT_EQ(capture_count("modburn:io_isValidIPv4Addr: getaddrinfo(::1) failed - rc="), 1) << capture_text();
  EXPECT_EQ(capture_count("modburn:io_isValidIPv6Addr: getaddrinfo(127.0.0.1) failed - rc="), 1);
  EXPECT_EQ(capture_count("modburn:io_isValidIPv4Addr: getaddrinfo(switch) failed - rc="), 1);
  EXPECT_EQ(capture_entries().size(), 3u);  // empty and null texts are refused silently
  io_setLogSink(prev);
}
