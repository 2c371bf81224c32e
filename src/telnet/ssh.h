// SSH consoles: the second console transport beside the TELNET client.
//
// An SSH session carries the same console dialogues as a TELNET session, over
// an encrypted connection whose host key is checked against an OpenSSH
// known_hosts file. libssh speaks the protocol; this layer adds the connect
// with a time-out over every resolved address, the host-key policy, the login
// by password or keyboard-interactive, the PTY and shell channel, and timed
// reads whose results are those of the TELNET reads. Nothing is negotiated:
// the channel's bytes are the console's text.
//
// A session's handle is its socket's descriptor, as a TelnetHandle is. The
// number is unique in the process while the session is open, so one lookup
// (sshcon_isSession) tells which transport a handle belongs to.
//
// Sessions are independent: many may be opened, read and closed at once from
// many threads, each session driven by one thread at a time. No lock of this
// layer is held across a network wait.
#pragma once

#include <string>

#include "telnet/telnet.h"

using SshHandle = int;

inline constexpr int SSHCON_DEFAULT_PORT = 22;

// What happens to a host key that the known_hosts file does not hold.
enum SshHostKeyPolicy : int {
  SSHCON_STRICT = 0,      // an unknown or changed key refuses the connection
  SSHCON_ACCEPT_NEW = 1,  // an unknown key is added to the file; a changed one is refused
};

// Results of sshcon_open beyond the TelnetStatus codes it shares with
// telnet_open (TELNET_BAD_HOST, TELNET_CONN_ERR, TELNET_NO_IPSTACK,
// TELNET_BAD_STRING).
enum SshStatus : int {
  SSHCON_HOSTKEY_UNKNOWN = -20,  // the key is not in the file (strict policy)
  SSHCON_HOSTKEY_CHANGED = -21,  // the file holds another key for the host
  SSHCON_HOSTKEY_ERROR = -22,    // the file cannot be read or written
  SSHCON_AUTH_DENIED = -23,      // the server refused the user and password
};

// --- Settings of the process ----------------------------------------------

// Sets the known_hosts file of every later session; null or empty restores
// the default, ~/.ssh/known_hosts of the process's user.
void sshcon_setKnownHosts(const char* path);
// The known_hosts file in force.
std::string sshcon_knownHosts();
// Sets the host-key policy (an SshHostKeyPolicy); returns the previous one,
// or -1 for a value that is none (the policy then stays).
int sshcon_setHostKeyPolicy(int policy);
// The host-key policy in force.
int sshcon_hostKeyPolicy();

// --- Sessions ---------------------------------------------------------------

// The part after "ssh://" (scheme in any case) when addr names an SSH
// console, else null: "ssh://sw1:2222" gives "sw1:2222".
const char* sshcon_addressRest(const char* addr);

// Opens a console: connects to host (name or numeric address) on port
// (0 = 22) as a TELNET session connects (net_connect: each resolved address
// in turn, for at most connectMillis rounded up to whole seconds); checks
// the host key before any credential is sent; logs in as user with password
// (the password method, else keyboard-interactive answering the password
// question); opens a PTY and a shell. Every later wait of the opening is
// bounded by connectMillis too. Returns the handle, or a negative
// TelnetStatus or SshStatus with the reason in why (host-key refusals name the
// key's type and SHA256 fingerprint). why may be null; it is cut to
// whySize - 1 characters, escaped and masked like a log line.
SshHandle sshcon_open(const char* host, int port, const char* user, const char* password,
                      int connectMillis, char* why, int whySize);
// Checks the host key of the SSH server at host and port (0 = 22) without
// logging in: connects and exchanges keys as sshcon_open does, compares the
// server's key with the known_hosts file (never adding to it, whatever the
// policy) and disconnects. TELNET_SUCCESS when the file holds the key,
// SSHCON_HOSTKEY_UNKNOWN, SSHCON_HOSTKEY_CHANGED, SSHCON_HOSTKEY_ERROR, or the
// TelnetStatus of a connection that failed. key receives the key's type and
// SHA256 fingerprint once the server has shown it (else ""), why the reason
// of a failure; each may be null and is cut to its size - 1 characters.
int sshcon_checkHostKey(const char* host, int port, int connectMillis, char* key, int keySize, char* why,
                        int whySize);
// The type and SHA256 fingerprint of an open session's host key
// ("ssh-ed25519 SHA256:..."); empty when h is no open session.
std::string sshcon_hostKey(SshHandle h);
// Reads what the console has sent, up to len bytes, waiting at most
// timeoutMillis for the first: the count (1 or more; the bytes are not
// terminated), TELNET_TIMEOUT, TELNET_CONN_LOST (the server ended the channel
// or the connection failed), TELNET_BAD_HANDLE or TELNET_BAD_BUFFER.
int sshcon_read(SshHandle h, char* buf, int len, int timeoutMillis);
// Writes len bytes unchanged: 0, TELNET_CONN_LOST, TELNET_BAD_HANDLE or
// TELNET_BAD_STRING (nothing to write).
int sshcon_write(SshHandle h, const char* data, int len);
// Ends the session (channel end of file, close, disconnect) and its socket:
// 0, or TELNET_BAD_HANDLE when h is no open session.
int sshcon_close(SshHandle h);
// True when h is an open SSH session.
bool sshcon_isSession(int h);
// Text of an SshStatus; the TelnetStatus codes give telnet_strerror's text.
const char* sshcon_strerror(int code);
