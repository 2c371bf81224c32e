// IoStatus: the result codes of the whole library and their texts.
#pragma once

enum IoStatus : int {
  IO_SUCCESS_STOP = 1,
  IO_SUCCESS = 0,
  IO_BAD_PARAMS = -2,
  IO_INV_LOGIN = -3,
  IO_INV_IP = -4,
  IO_MISSING_URL = -5,
  IO_INV_URL_SYNTAX = -6,
  IO_INV_URL_LOGIN = -7,
  IO_INV_URL_SCHEME = -8,
  IO_INV_URL_HOST = -9,
  IO_INV_MOD = -10,
  IO_CONN_ERR = -11,
  IO_CONN_LOST = -12,
  IO_TIMEOUT = -13,
  IO_UPDATE_ERR = -14,
  IO_FILE_NOT_FOUND = -15,
  IO_SERVER_NOT_FOUND = -16,
  IO_BAD_FILE = -17,
  IO_BAD_SERV_LOGIN = -18,
  IO_BAD_SWITCH_LOGIN = -19,
  IO_BUSY_HARDWARE = -20,
  IO_NO_HARDWARE = -21,
  IO_NO_IPSTACK = -22,
};

// Result of update for a family code that selects no module (not an IoStatus).
inline constexpr int IO_NOT_IMPLEMENTED = -99;

// Text of any code: the table's constant, or "Unknown error=%d" formatted
// into a per-thread buffer for codes outside it.
const char* err2String(int code);
