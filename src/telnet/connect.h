// Connecting a TCP socket to a switch's management address: the first step
// of every console transport. The TELNET client opens its sessions with it; a
// transport whose protocol library takes a connected socket (SSH) can hand it
// the socket this returns.
#pragma once

// How long one address may take to accept the connection, in seconds.
inline constexpr int NET_CONNECT_SECS = 15;

// Resolves host (a host name, or a numeric IPv4 or IPv6 address without
// brackets) for port and tries each address the resolver gives, in its
// order, until one accepts: an address that refuses, cannot be reached or has
// no protocol stack here is passed over, and one that does not answer is
// given up after timeoutSecs (scaled through the time seam). Each failed try
// is logged through the telnet layer's log at every debug level, under the
// caller's name who ("<who>:<socket>: connect to <address> port <port>
// failed, errno=<n> (<text>)"); at debug level 1 and above each address is
// logged before it is tried.
//
// Returns the connected socket, in blocking mode and close-on-exec; the
// caller owns it and closes it. Or a negative TelnetStatus:
//   TELNET_BAD_HOST   host null or empty (nothing logged), the resolver
//                     failed, or it gave no address;
//   TELNET_NO_IPSTACK no socket could be made, the last for want of a
//                     protocol stack for the address's family;
//   TELNET_CONN_ERR   every address failed otherwise.
// Nothing is left open on a failure.
int net_connect(const char* who, const char* host, int port, int timeoutSecs);
