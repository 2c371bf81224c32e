// TELNET option negotiation: the server's commands are taken out of the byte
// stream and answered by a fixed, stateless policy that refuses every option
// but ECHO. Also the one send operation through which every byte leaves.
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>

#include "com/timescale.h"
#include "telnet/ssh.h"
#include "telnet/telnet.h"
#include "telnet/telnet_internal.h"

namespace {

// How long to wait for each further byte of a command whose IAC has arrived:
// a command split across two segments is completed rather than given up (a
// given-up command would leave its remaining bytes in the console text).
constexpr long long CMD_BYTE_USECS = TELNET_DEFAULT_CHAR_USECS;
// Longest wait for room to send while the switch reads nothing.
constexpr int SEND_ROOM_SECS = 30;

// Option numbers above this one have no name (255 excepted).
constexpr unsigned char LAST_NAMED_OPTION = 39;

const char* const kCommandNames[] = {
    "xEOF", "SUSP", "ABORT", "EOR", "SE", "NOP", "DM", "BREAK", "IP", "AO",
    "AYT",  "EC",   "EL",    "GA",  "SB", "WILL", "WONT", "DO", "DONT", "IAC",
};
constexpr unsigned char FIRST_NAMED_COMMAND = 236;

const char* const kOptionNames[] = {
    "BINARY", "ECHO",     "RCP",       "SGA",        "NAMS",   "STATUS",   "TM",       "RCTE",
    "NAOL",   "NAOP",     "NAOCRD",    "NAOHTS",     "NAOHTD", "NAOFFD",   "NAOVTS",   "NAOVTD",
    "NAOLFD", "XASCII",   "LOGOUT",    "BM",         "DET",    "SUPDUP",   "SUPDUPOUT", "SNDLOC",
    "TTYPE",  "EOR",      "TUID",      "OUTMRK",     "TTYLOC", "3270REGIME", "X3PAD",  "NAWS",
    "TSPEED", "LFLOW",    "LINEMODE",  "XDISPLOC",   "OLD_ENV", "AUTHEN",  "ENCRYPT",  "NEW_ENV",
};
static_assert(sizeof kOptionNames / sizeof kOptionNames[0] == LAST_NAMED_OPTION + 1);
static_assert(sizeof kCommandNames / sizeof kCommandNames[0] == 256 - FIRST_NAMED_COMMAND);

// The negotiation policy: for each request verb, the reply to ECHO and the
// reply to any other option (0 = no reply).
struct PolicyRow {
  unsigned char request;
  unsigned char echoReply;
  unsigned char otherReply;
};
constexpr PolicyRow kPolicy[] = {
    {TC_WILL, 0, TC_DONT},        // the server's echo is welcome; nothing else is
    {TC_WONT, 0, 0},              // refusals need no answer
    {TC_DO, TC_WILL, TC_WONT},    // we echo if asked, and do nothing else
    {TC_DONT, 0, 0},              // nothing is on that could be switched off
};

bool debugAtLeast(int level) { return telnet_getDebugLevel() >= level; }

// Reads one byte of a command: waits briefly for it, gives up on silence,
// a closed connection or an error.
bool readCommandByte(int sock, unsigned char& byte) {
  for (;;) {
    const int ready = selectpoll(sock, CMD_BYTE_USECS);
    if (ready == RTO_INTERRUPTED) continue;
    if (ready != RTO_READY) return false;
    const ssize_t got = recv(sock, &byte, 1, 0);
    if (got == 1) return true;
    if (got < 0 && errno == EINTR) continue;
    return false;
  }
}

CommandRead answered(bool sent) { return sent ? CommandRead::Done : CommandRead::SendFailed; }

bool sendReply(int sock, unsigned char verb, unsigned char option) {
  const unsigned char reply[3] = {TC_IAC, verb, option};
  if (sendToServer(sock, reply, sizeof reply) == 0) return true;
  char shown[32];
  escapeBytes(reply, sizeof reply, shown, sizeof shown);
  if (verb == TC_DONT) {
    logit("handleServerCommand: sendToServer failed (buf=(%s))\n", shown);
  } else {
    logit("handleServerCommand:%d: sendToServer failed (buf=(%s))\n", sock, shown);
  }
  return false;
}

// sendToServer on an SSH console: the bytes go to the channel unchanged. A
// failure sets errno as a failed send would (EBADF for a session that is no
// more, EPIPE for one that has ended), so that the caller's mapping holds.
int sendSsh(int sock, const unsigned char* buf, int len) {
  const int rc = sshcon_write(sock, reinterpret_cast<const char*>(buf), len);
  if (rc == TELNET_SUCCESS) return 0;
  errno = rc == TELNET_BAD_HANDLE ? EBADF : EPIPE;
  return -1;
}

}  // namespace

const char* telcmdName(unsigned char c) {
  if (c >= FIRST_NAMED_COMMAND) return kCommandNames[c - FIRST_NAMED_COMMAND];
  thread_local char unknown[32];
  std::snprintf(unknown, sizeof unknown, "Unknown Command=%d", c);
  return unknown;
}

const char* teloptName(unsigned char c) {
  if (c <= LAST_NAMED_OPTION) return kOptionNames[c];
  if (c == 255) return "EXOPL";
  thread_local char unknown[32];
  std::snprintf(unknown, sizeof unknown, "Unknown option=%d", c);
  return unknown;
}

void traceSend(int sock, const unsigned char* buf, int len) {
  if (buf == nullptr || !debugAtLeast(2)) return;
  // A byte 255 in console text is traced as if it began a command; a command
  // cut by the end of the buffer is not traced.
  for (int i = 0; i < len;) {
    if (buf[i] == TC_IAC && i + 2 < len) {
      logit("telnet:%d:SND: %s %s\n", sock, telcmdName(buf[i + 1]), teloptName(buf[i + 2]));
      i += 3;
    } else {
      ++i;
    }
  }
}

int sendToServer(int sock, const unsigned char* buf, int len) {
  if (sshcon_isSession(sock)) return sendSsh(sock, buf, len);
  if (telnet_getDebugLevel() != 0) traceSend(sock, buf, len);
  // A switch that stops reading (while it floods us with commands to answer)
  // must not hold the caller in a send for ever: wait for room for at most
  // SEND_ROOM_SECS, through the time seam, then fail.
  const int roomMillis = static_cast<int>(modburn::scaled_micros(SEND_ROOM_SECS * 1000000LL) / 1000 + 1);
  pollfd room{sock, POLLOUT, 0};
  int ready = 1;  // a bad handle is left to the send to report
  while (sock >= 0 && (ready = poll(&room, 1, roomMillis)) < 0 && errno == EINTR) {
  }
  if (ready == 0) {
    errno = ETIMEDOUT;
    logit("sendToServer:%d: no room to send for %d seconds\n", sock, SEND_ROOM_SECS);
    return -1;
  }
  // No SIGPIPE: a peer that has gone away must give an error, not end the process.
  const ssize_t sent = send(sock, buf, static_cast<std::size_t>(len), MSG_NOSIGNAL);
  if (sent < 0) {
    const int err = errno;
    logit("sendToServer:%d: send: errno=%d (%s)\n", sock, err, sockErrorText(err));
    return -1;
  }
  if (sent < len) {
    if (debugAtLeast(2)) {
      logit("Warning: sendToServer:%d: send: In bytes=%d Outbytes=%d\n", sock, len, static_cast<int>(sent));
    }
    return -1;
  }
  return 0;
}

int sendInitialOptions(int /*sock*/) { return 0; }

bool handleServerCommand(int sock, const unsigned char* cmd, std::size_t len) {
  if (cmd == nullptr || len < 3) return true;
  const unsigned char verb = cmd[1];
  if (verb < TC_WILL || verb > TC_DONT) return true;  // SB ... SE: skipped, never answered
  const unsigned char option = cmd[2];
  if (debugAtLeast(2)) logit("telnet:%d:REC: %s %s\n", sock, telcmdName(verb), teloptName(option));
  if (option > LAST_NAMED_OPTION && option != 255 && debugAtLeast(0)) {
    logit("handleServerCommand:%d: %s: servcmd[2] bad option=%d\n", sock, telcmdName(verb), option);
  }
  for (const PolicyRow& row : kPolicy) {
    if (row.request != verb) continue;
    const unsigned char reply = option == TO_ECHO ? row.echoReply : row.otherReply;
    return reply == 0 || sendReply(sock, reply, option);
  }
  return true;
}

CommandRead readServerCommand(int sock, TelnetClock::time_point giveUp) {
  unsigned char cmd[TELNET_CMD_BUFSIZE];
  std::size_t len = 0;
  cmd[len++] = TC_IAC;
  unsigned char byte = 0;
  if (!readCommandByte(sock, byte)) return CommandRead::Done;
  cmd[len++] = byte;

  if (byte == TC_SB) {
    // Up to and including the first SE; what does not fit is read and dropped.
    // A server that never sends the SE would hold the read below every time
    // limit of the caller: the subnegotiation ends the read at giveUp.
    do {
      if (TelnetClock::now() >= giveUp) return CommandRead::Endless;
      if (!readCommandByte(sock, byte)) return CommandRead::Done;
      if (len < sizeof cmd) cmd[len++] = byte;
    } while (byte != TC_SE);
    return answered(handleServerCommand(sock, cmd, len));
  }
  if (byte >= TC_WILL && byte <= TC_DONT) {
    if (!readCommandByte(sock, byte)) return CommandRead::Done;
    cmd[len++] = byte;
    return answered(handleServerCommand(sock, cmd, len));
  }
  // Any other command (NOP, GA, DM, a doubled IAC, ...) is dropped.
  return CommandRead::Done;
}
