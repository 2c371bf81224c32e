#include "core/iostatus.h"

#include <cstdio>

namespace {

// Size of the per-thread text of a code outside the table, terminator included.
constexpr int UNKNOWN_TEXT_SIZE = 100;

}  // namespace

const char* err2String(int code) {
  // No default: a code added to IoStatus without a text here is a compiler warning.
  switch (static_cast<IoStatus>(code)) {
    case IO_SUCCESS_STOP: return "Success/STOP (IO_SUCCESS_STOP)";
    case IO_SUCCESS: return "Success (IO_SUCCESS)";
    case IO_BAD_PARAMS: return "Bad parameters passed to function (IO_BAD_PARAMS)";
    case IO_INV_LOGIN: return "Invalid switch login/password (IO_INV_LOGIN)";
    case IO_INV_IP: return "Invalid switch hostname/ip address (IO_INV_IP)";
    case IO_MISSING_URL: return "One or more required URLs missing (IO_MISSING_URL)";
    case IO_INV_URL_SYNTAX: return "Invalid URL syntax (IO_INV_URL_SYNTAX)";
    case IO_INV_URL_LOGIN: return "Invalid URL server login/password (IO_INV_URL_LOGIN)";
    case IO_INV_URL_SCHEME: return "URL scheme/protocol not supported (IO_INV_URL_SCHEME)";
    case IO_INV_URL_HOST: return "URL hostname not supported (IO_INV_URL_HOST)";
    case IO_INV_MOD: return "Invalid modifier (IO_INV_MOD)";
    case IO_CONN_ERR: return "Telnet connection error (IO_CONN_ERR)";
    case IO_CONN_LOST: return "Telnet connection lost (IO_CONN_LOST)";
    case IO_TIMEOUT: return "Telnet timeout (IO_TIMEOUT)";
    case IO_UPDATE_ERR: return "Telnet update error (IO_UPDATE_ERR)";
    case IO_FILE_NOT_FOUND: return "File not found (IO_FILE_NOT_FOUND)";
    case IO_SERVER_NOT_FOUND: return "File Server not found (IO_SERVER_NOT_FOUND)";
    case IO_BAD_FILE: return "Bad file format/contents (IO_BAD_FILE)";
    case IO_BAD_SERV_LOGIN: return "Bad (FTP) Server login/password (IO_BAD_SERV_LOGIN)";
    case IO_BAD_SWITCH_LOGIN: return "Switch login failed (IO_BAD_SWITCH_LOGIN)";
    case IO_BUSY_HARDWARE: return "Hardware/Firmware is busy (IO_BUSY_HARDWARE)";
    case IO_NO_HARDWARE: return "Hardware is not installed (IO_NO_HARDWARE)";
    case IO_NO_IPSTACK: return "IP (v4/v6) protocol stack not installed (IO_NO_IPSTACK)";
  }
  // Codes outside the table (-1, -99, ...): each thread formats into its own
  // buffer, so concurrent callers never overwrite each other's text.
  thread_local char unknown[UNKNOWN_TEXT_SIZE];
  std::snprintf(unknown, sizeof unknown, "Unknown error=%d", code);
  return unknown;
}
