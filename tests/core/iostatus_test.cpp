#include "core/iostatus.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <thread>

namespace {

struct CodeText {
  int code;
  const char* text;
};

// Every listed code with its exact text.
constexpr CodeText kTable[] = {
    {1, "Success/STOP (IO_SUCCESS_STOP)"},
    {0, "Success (IO_SUCCESS)"},
    {-2, "Bad parameters passed to function (IO_BAD_PARAMS)"},
    {-3, "Invalid switch login/password (IO_INV_LOGIN)"},
    {-4, "Invalid switch hostname/ip address (IO_INV_IP)"},
    {-5, "One or more required URLs missing (IO_MISSING_URL)"},
    {-6, "Invalid URL syntax (IO_INV_URL_SYNTAX)"},
    {-7, "Invalid URL server login/password (IO_INV_URL_LOGIN)"},
    {-8, "URL scheme/protocol not supported (IO_INV_URL_SCHEME)"},
    {-9, "URL hostname not supported (IO_INV_URL_HOST)"},
    {-10, "Invalid modifier (IO_INV_MOD)"},
    {-11, "Telnet connection error (IO_CONN_ERR)"},
    {-12, "Telnet connection lost (IO_CONN_LOST)"},
    {-13, "Telnet timeout (IO_TIMEOUT)"},
    {-14, "Telnet update error (IO_UPDATE_ERR)"},
    {-15, "File not found (IO_FILE_NOT_FOUND)"},
    {-16, "File Server not found (IO_SERVER_NOT_FOUND)"},
    {-17, "Bad file format/contents (IO_BAD_FILE)"},
    {-18, "Bad (FTP) Server login/password (IO_BAD_SERV_LOGIN)"},
    {-19, "Switch login failed (IO_BAD_SWITCH_LOGIN)"},
    {-20, "Hardware/Firmware is busy (IO_BUSY_HARDWARE)"},
    {-21, "Hardware is not installed (IO_NO_HARDWARE)"},
    {-22, "IP (v4/v6) protocol stack not installed (IO_NO_IPSTACK)"},
};

TEST(Err2String, GivesEachListedCodeItsText) {
  for (const auto& row : kTable) {
    EXPECT_STREQ(err2String(row.code), row.text) << "code " << row.code;
  }
}

TEST(Err2String, FormatsUnlistedCodes) {
  const struct {
    int code;
    const char* text;
  } rows[] = {
      {-1, "Unknown error=-1"},
      {2, "Unknown error=2"},
      {-23, "Unknown error=-23"},
      {IO_NOT_IMPLEMENTED, "Unknown error=-99"},
      {INT_MAX, "Unknown error=2147483647"},
      // The longest possible text: 25 characters, within the 100-byte buffer.
      {INT_MIN, "Unknown error=-2147483648"},
  };
  for (const auto& row : rows) {
    EXPECT_STREQ(err2String(row.code), row.text) << "code " << row.code;
  }
  EXPECT_EQ(std::string(err2String(INT_MIN)).size(), 25u);
}

TEST(Err2String, UnlistedTextOfOneThreadSurvivesAnotherThreadsCalls) {
  const char* mine = err2String(-1);
  std::thread other([] {
    for (int code = -100; code > -200; --code) err2String(code);
  });
  other.join();
  EXPECT_STREQ(mine, "Unknown error=-1");
  // Within one thread the buffer is reused, as callers of a static text expect.
  EXPECT_EQ(err2String(-5000), mine);
  EXPECT_STREQ(mine, "Unknown error=-5000");
}

}  // namespace
