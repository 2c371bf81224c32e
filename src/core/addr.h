// Switch address validation: classifies the address text the host gives for
// a switch (dotted IPv4, bracketed IPv6 or a single-label host name, each
// with an optional port) and cuts host and port out of it.
#pragma once

// Address classes of io_classifyAddr.
enum AddrClass : int {
  ADDR_INVALID = -1,
  ADDR_IPV4 = 1,
  ADDR_IPV6 = 2,
  ADDR_HOSTNAME = 3,
};

// Highest port a switch address may carry.
inline constexpr int ADDR_MAX_PORT = 49151;

// 1 if text is a numeric IPv4 address, else 0 (a resolver failure is logged).
int io_isValidIPv4Addr(const char* text);
// 1 if text is a numeric IPv6 address, else 0 (a resolver failure is logged).
int io_isValidIPv6Addr(const char* text);
// Classifies addr, cutting it in place: host receives the host part,
// portText the port text or null, portNum the port or 0 (each output may be
// null). Returns an AddrClass; ADDR_INVALID leaves the outputs untouched.
int io_classifyAddr(char* addr, char** host, char** portText, int* portNum);
