// SSH consoles over libssh: the connect, the host-key check, the login, the
// PTY and shell channel, timed reads, writes and close, and the routing of
// libssh's own log into the telnet layer's sink.
#include "telnet/ssh.h"

#include <fcntl.h>
#include <libssh/callbacks.h>
#include <libssh/libssh.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "com/secrets.h"
#include "telnet/connect.h"
#include "telnet/telnet_internal.h"

namespace {

// Rounds of keyboard-interactive questions followed before giving up.
constexpr int KBDINT_MAX_ROUNDS = 8;
// The terminal the PTY announces, and its size.
constexpr char PTY_TERM[] = "vt100";
constexpr int PTY_COLS = 80;
constexpr int PTY_ROWS = 24;
// Size of one escaped libssh message in a log line.
constexpr int LIBSSH_TRACE_SIZE = 1500;

bool debugAtLeast(int level) { return telnet_getDebugLevel() >= level; }

// text escaped and masked as every log line is; also the form a refusal's
// reason takes, since it ends up in an error text.
std::string escaped(std::string_view text) {
  const std::string plain(text);
  std::string out(plain.size() * 4 + 8, '\0');
  printable(plain.c_str(), out.data(), static_cast<int>(out.size()));
  out.resize(std::strlen(out.c_str()));
  return out;
}

// --- Settings of the process ----------------------------------------------

std::mutex gSettingsMutex;  // guards gKnownHosts; held for a copy only
std::string gKnownHosts;    // empty: the default file
std::atomic<int> gPolicy{SSHCON_STRICT};
// Serialises reading and adding to known_hosts, so that sessions opened at
// once to a new host add its key once. Held for the file's I/O only.
std::mutex gKnownHostsFileMutex;

// ~/.ssh/known_hosts of the process's user (empty when it has no home).
std::string defaultKnownHosts() {
  passwd entry{};
  passwd* found = nullptr;
  std::array<char, 4096> scratch{};
  if (getpwuid_r(geteuid(), &entry, scratch.data(), scratch.size(), &found) != 0 || found == nullptr ||
      entry.pw_dir == nullptr || *entry.pw_dir == '\0') {
    return "";
  }
  return std::string(entry.pw_dir) + "/.ssh/known_hosts";
}

// --- libssh objects and the registry of open consoles ----------------------

struct SessionFree {
  void operator()(ssh_session s) const { ssh_free(s); }
};
struct ChannelFree {
  void operator()(ssh_channel c) const { ssh_channel_free(c); }
};
struct KeyFree {
  void operator()(ssh_key k) const { ssh_key_free(k); }
};
using SessionPtr = std::unique_ptr<ssh_session_struct, SessionFree>;
using ChannelPtr = std::unique_ptr<ssh_channel_struct, ChannelFree>;
using KeyPtr = std::unique_ptr<ssh_key_struct, KeyFree>;

// One open console: the libssh session and its shell channel, and two
// descriptors of its socket. libssh works on its own copy and may close it
// by itself on an error; the handle is the other copy, which only this
// layer closes, so that its number stays the session's until sshcon_close
// however the connection ends. The channel is declared after the session so
// that it is freed first.
struct Console {
  int handle = -1;
  socket_t libsshFd = -1;
  SessionPtr session;
  ChannelPtr channel;
  std::string hostKey;  // type and fingerprint of the server's key

  Console() = default;
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;
  // Ends the console in order: end of file and close on the channel, the
  // disconnect message, then the descriptors.
  ~Console() {
    if (channel) {
      if (ssh_channel_is_open(channel.get())) {
        ssh_channel_send_eof(channel.get());
        ssh_channel_close(channel.get());
      }
      channel.reset();
    }
    if (session) {
      // libssh forgets a descriptor when it closes it: one it still holds
      // is open, and since 0.10 its disconnect leaves a descriptor it was
      // given open. One it never took (an opening that failed before it
      // did) is left open rather than risk closing another's.
      const bool libsshHolds = libsshFd >= 0 && ssh_get_fd(session.get()) == libsshFd;
      ssh_disconnect(session.get());
#if LIBSSH_VERSION_INT >= SSH_VERSION_INT(0, 10, 0)
      if (libsshHolds) close(libsshFd);
#endif
      session.reset();
    } else if (libsshFd >= 0) {
      close(libsshFd);
    }
    if (handle >= 0) close(handle);
  }
};

std::mutex gRegistryMutex;  // guards gRegistry; held for one map operation
std::unordered_map<int, std::shared_ptr<Console>> gRegistry;
// The registry's size, read without the lock: a process with no SSH console
// open (every TELNET byte read asks) never takes the lock.
std::atomic<int> gOpenConsoles{0};

std::shared_ptr<Console> findConsole(int h) {
  std::lock_guard<std::mutex> lock(gRegistryMutex);
  const auto it = gRegistry.find(h);
  return it == gRegistry.end() ? nullptr : it->second;
}

// Removes the console from the registry while its socket is still open, so
// that no new socket with the same number can be taken for it.
std::shared_ptr<Console> takeConsole(int h) {
  std::lock_guard<std::mutex> lock(gRegistryMutex);
  const auto it = gRegistry.find(h);
  if (it == gRegistry.end()) return nullptr;
  std::shared_ptr<Console> console = std::move(it->second);
  gRegistry.erase(it);
  gOpenConsoles.store(static_cast<int>(gRegistry.size()));
  return console;
}

void addConsole(int h, std::shared_ptr<Console> console) {
  std::lock_guard<std::mutex> lock(gRegistryMutex);
  gRegistry[h] = std::move(console);
  gOpenConsoles.store(static_cast<int>(gRegistry.size()));
}

// --- libssh's own log -------------------------------------------------------

void libsshLog(int /*priority*/, const char* /*function*/, const char* text, void* userdata) {
  if (text == nullptr || !debugAtLeast(2)) return;
  char shown[LIBSSH_TRACE_SIZE];
  logit("sshcon:%d: libssh: %s\n", static_cast<int>(reinterpret_cast<std::intptr_t>(userdata)),
        printable(text, shown, sizeof shown));
}

// libssh keeps its log function and level per thread: every entry point sets
// them on the calling thread, so that libssh's lines reach this layer's sink
// (at debug level 2 only, masked and escaped like every line) and never its
// default, standard error. handle names the session in those lines.
void routeLibsshLog(int handle) {
  ssh_set_log_callback(&libsshLog);
  ssh_set_log_userdata(reinterpret_cast<void*>(static_cast<std::intptr_t>(handle)));
  ssh_set_log_level(debugAtLeast(2) ? SSH_LOG_PROTOCOL : SSH_LOG_NOLOG);
}

void startLibssh() {
  static std::once_flag started;
  std::call_once(started, [] { ssh_init(); });
}

// --- The TCP connection -----------------------------------------------------

// Opens the TCP connection as a TELNET session does (net_connect: each
// resolved address in turn, timeoutMillis rounded up to whole seconds for
// each): the connected socket, non-blocking (libssh waits with its own
// time-outs), or a negative TelnetStatus.
int tcpConnect(const char* host, int port, int timeoutMillis) {
  const int sock = net_connect("sshcon_open", host, port, std::max(1, (timeoutMillis + 999) / 1000));
  if (sock < 0) return sock;
  const int flags = fcntl(sock, F_GETFL, 0);
  if (flags >= 0) fcntl(sock, F_SETFL, flags | O_NONBLOCK);
  // Prompts and typed lines are small: send each at once.
  const int on = 1;
  setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return sock;
}

// --- The host key -----------------------------------------------------------

// "host" on the default port, "[host]:port" otherwise, as known_hosts names it.
std::string knownHostsName(const char* host, int port) {
  if (port == SSHCON_DEFAULT_PORT) return host;
  return "[" + std::string(host) + "]:" + std::to_string(port);
}

// The server's host key as its type and SHA256 fingerprint
// ("ssh-ed25519 SHA256:...").
std::string hostKeyText(ssh_session s) {
  ssh_key raw = nullptr;
  if (ssh_get_server_publickey(s, &raw) != SSH_OK || raw == nullptr) return "(no host key)";
  const KeyPtr key(raw);
  const char* type = ssh_key_type_to_char(ssh_key_type(key.get()));
  std::string text = type != nullptr ? type : "(unknown key type)";
  unsigned char* hash = nullptr;
  size_t hashLen = 0;
  if (ssh_get_publickey_hash(key.get(), SSH_PUBLICKEY_HASH_SHA256, &hash, &hashLen) != SSH_OK) {
    return text + " (no fingerprint)";
  }
  char* fingerprint = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, hashLen);
  ssh_clean_pubkey_hash(&hash);
  text += " ";
  text += fingerprint != nullptr ? fingerprint : "(no fingerprint)";
  ssh_string_free_char(fingerprint);
  return text;
}

// What the known_hosts check decided.
struct HostKeyVerdict {
  int code = TELNET_SUCCESS;  // TELNET_SUCCESS or an SshStatus
  bool added = false;         // accept-new wrote the key to the file
  std::string why;            // the refusal's reason
};

// Checks the server's key against the known_hosts file under the policy,
// adding an unknown key under accept-new. Reads and writes local files only.
HostKeyVerdict checkHostKey(ssh_session s, const std::string& name, const std::string& key,
                            const std::string& file, int policy) {
  HostKeyVerdict v;
  std::lock_guard<std::mutex> lock(gKnownHostsFileMutex);
  switch (ssh_session_is_known_server(s)) {
    case SSH_KNOWN_HOSTS_OK:
      return v;
    case SSH_KNOWN_HOSTS_CHANGED:
      v.code = SSHCON_HOSTKEY_CHANGED;
      v.why = "host key of " + name + " has changed: the server offers " + key + ", which is not the key that " +
              file + " holds for it";
      return v;
    case SSH_KNOWN_HOSTS_OTHER:
      v.code = SSHCON_HOSTKEY_CHANGED;
      v.why = "host key of " + name + " has changed: the server offers " + key + ", but " + file +
              " holds a key of another type for it";
      return v;
    case SSH_KNOWN_HOSTS_UNKNOWN:
    case SSH_KNOWN_HOSTS_NOT_FOUND:
      if (policy != SSHCON_ACCEPT_NEW) {
        v.code = SSHCON_HOSTKEY_UNKNOWN;
        v.why = "host key of " + name + " is unknown: " + key + " is not in " + file;
        return v;
      }
      if (ssh_session_update_known_hosts(s) != SSH_OK) {
        v.code = SSHCON_HOSTKEY_ERROR;
        v.why = "cannot add the host key " + key + " of " + name + " to " + file + ": " + ssh_get_error(s);
        return v;
      }
      v.added = true;
      return v;
    case SSH_KNOWN_HOSTS_ERROR:
      break;
  }
  v.code = SSHCON_HOSTKEY_ERROR;
  v.why = "cannot check the host key " + key + " of " + name + " against " + file + ": " + ssh_get_error(s);
  return v;
}

// --- The login --------------------------------------------------------------

struct Refusal {
  int code = TELNET_SUCCESS;
  std::string why;
};

bool isPasswordQuestion(const char* prompt) {
  return prompt != nullptr && strcasestr(prompt, "password") != nullptr;
}

std::string methodNames(int methods) {
  std::string names;
  const auto add = [&](unsigned bit, const char* name) {
    if ((static_cast<unsigned>(methods) & bit) == 0) return;
    if (!names.empty()) names += ", ";
    names += name;
  };
  add(SSH_AUTH_METHOD_PASSWORD, "password");
  add(SSH_AUTH_METHOD_INTERACTIVE, "keyboard-interactive");
  add(SSH_AUTH_METHOD_PUBLICKEY, "publickey");
  add(SSH_AUTH_METHOD_HOSTBASED, "hostbased");
  add(SSH_AUTH_METHOD_GSSAPI_MIC, "gssapi-with-mic");
  return names.empty() ? "none" : names;
}

// The verdict of one login attempt's last answer.
Refusal loginVerdict(ssh_session s, int rc, const char* user) {
  switch (rc) {
    case SSH_AUTH_SUCCESS:
      return {};
    case SSH_AUTH_DENIED:
      return {SSHCON_AUTH_DENIED, "the server refused the password of user " + std::string(user)};
    case SSH_AUTH_PARTIAL:
      return {SSHCON_AUTH_DENIED, "the server asks user " + std::string(user) + " for a further login method"};
    default:
      return {TELNET_CONN_ERR, std::string("the login failed: ") + ssh_get_error(s)};
  }
}

// Keyboard-interactive: answers the one password question; any other
// question, or a second password question, ends the login.
Refusal loginByQuestions(ssh_session s, const char* user, const char* password) {
  bool answered = false;
  for (int round = 0; round < KBDINT_MAX_ROUNDS; ++round) {
    const int rc = ssh_userauth_kbdint(s, nullptr, nullptr);
    if (rc != SSH_AUTH_INFO) return loginVerdict(s, rc, user);
    const int prompts = ssh_userauth_kbdint_getnprompts(s);
    for (int i = 0; i < prompts; ++i) {
      char echo = 0;
      const char* prompt = ssh_userauth_kbdint_getprompt(s, static_cast<unsigned>(i), &echo);
      if (answered || echo != 0 || !isPasswordQuestion(prompt)) {
        return {SSHCON_AUTH_DENIED, "the server asks a question other than the password: \"" +
                                        std::string(prompt != nullptr ? prompt : "") + "\""};
      }
      ssh_userauth_kbdint_setanswer(s, static_cast<unsigned>(i), password);
      answered = true;
    }
  }
  return {SSHCON_AUTH_DENIED, "the server kept asking questions"};
}

// Logs in as the session's user: by the password method when the server
// offers it (its verdict is final: a second try would count as a second
// failed login on the switch), else by keyboard-interactive.
Refusal login(ssh_session s, const char* user, const char* password, const char** method) {
  const int none = ssh_userauth_none(s, nullptr);
  if (none == SSH_AUTH_SUCCESS) {
    *method = "none";
    return {};
  }
  if (none == SSH_AUTH_ERROR) return loginVerdict(s, none, user);
  const int methods = ssh_userauth_list(s, nullptr);
  if ((static_cast<unsigned>(methods) & SSH_AUTH_METHOD_PASSWORD) != 0) {
    *method = "password";
    return loginVerdict(s, ssh_userauth_password(s, nullptr, password), user);
  }
  if ((static_cast<unsigned>(methods) & SSH_AUTH_METHOD_INTERACTIVE) != 0) {
    *method = "keyboard-interactive";
    return loginByQuestions(s, user, password);
  }
  return {SSHCON_AUTH_DENIED, "the server offers no password login, only: " + methodNames(methods)};
}

// --- The shell ----------------------------------------------------------------

Refusal openShell(Console& c) {
  c.channel.reset(ssh_channel_new(c.session.get()));
  if (!c.channel) return {TELNET_CONN_ERR, "cannot make a channel"};
  if (ssh_channel_open_session(c.channel.get()) != SSH_OK) {
    return {TELNET_CONN_ERR, std::string("the server refused a session channel: ") + ssh_get_error(c.session.get())};
  }
  if (ssh_channel_request_pty_size(c.channel.get(), PTY_TERM, PTY_COLS, PTY_ROWS) != SSH_OK) {
    return {TELNET_CONN_ERR, std::string("the server refused a terminal: ") + ssh_get_error(c.session.get())};
  }
  if (ssh_channel_request_shell(c.channel.get()) != SSH_OK) {
    return {TELNET_CONN_ERR, std::string("the server refused a shell: ") + ssh_get_error(c.session.get())};
  }
  return {};
}

// Sets up a new session on the connected socket sock. false when libssh
// refuses an option.
bool configure(ssh_session s, const char* host, int port, const char* user, int sock, int timeoutMillis,
               const std::string& knownHosts) {
  const long seconds = timeoutMillis / 1000;
  const long micros = static_cast<long>(timeoutMillis % 1000) * 1000;
  const bool no = false;
  socket_t fd = sock;
  // Only the file set for the process decides: no system-wide file, and no
  // ssh_config of the user or the system alters the session.
  return ssh_options_set(s, SSH_OPTIONS_PROCESS_CONFIG, &no) == SSH_OK &&
         ssh_options_set(s, SSH_OPTIONS_HOST, host) == SSH_OK &&
         ssh_options_set(s, SSH_OPTIONS_PORT, &port) == SSH_OK &&
         (user == nullptr || ssh_options_set(s, SSH_OPTIONS_USER, user) == SSH_OK) &&
         ssh_options_set(s, SSH_OPTIONS_KNOWNHOSTS, knownHosts.c_str()) == SSH_OK &&
         ssh_options_set(s, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, "/dev/null") == SSH_OK &&
         ssh_options_set(s, SSH_OPTIONS_TIMEOUT, &seconds) == SSH_OK &&
         ssh_options_set(s, SSH_OPTIONS_TIMEOUT_USEC, &micros) == SSH_OK &&
         ssh_options_set(s, SSH_OPTIONS_FD, &fd) == SSH_OK;
}

// Logs a refused opening at every level and hands its reason to the caller.
int refuse(const char* host, int code, const std::string& reason, char* why, int whySize) {
  const std::string shown = escaped(reason);
  logit("sshcon_open:%s: %s\n", escaped(host != nullptr ? host : "").c_str(), shown.c_str());
  if (why != nullptr && whySize > 0) std::snprintf(why, static_cast<std::size_t>(whySize), "%s", shown.c_str());
  return code;
}

}  // namespace

// --- Settings -------------------------------------------------------------------

void sshcon_setKnownHosts(const char* path) {
  std::lock_guard<std::mutex> lock(gSettingsMutex);
  gKnownHosts = path != nullptr ? path : "";
}

std::string sshcon_knownHosts() {
  {
    std::lock_guard<std::mutex> lock(gSettingsMutex);
    if (!gKnownHosts.empty()) return gKnownHosts;
  }
  return defaultKnownHosts();
}

int sshcon_setHostKeyPolicy(int policy) {
  if (policy != SSHCON_STRICT && policy != SSHCON_ACCEPT_NEW) return -1;
  return gPolicy.exchange(policy);
}

int sshcon_hostKeyPolicy() { return gPolicy.load(); }

const char* sshcon_addressRest(const char* addr) {
  constexpr std::string_view scheme = "ssh://";
  if (addr == nullptr || strncasecmp(addr, scheme.data(), scheme.size()) != 0) return nullptr;
  return addr + scheme.size();
}

const char* sshcon_strerror(int code) {
  switch (static_cast<SshStatus>(code)) {
    case SSHCON_HOSTKEY_UNKNOWN: return "Unknown SSH host key";
    case SSHCON_HOSTKEY_CHANGED: return "SSH host key changed";
    case SSHCON_HOSTKEY_ERROR: return "Known hosts file not usable";
    case SSHCON_AUTH_DENIED: return "SSH login refused";
  }
  return telnet_strerror(code);
}

// --- Sessions ---------------------------------------------------------------------

namespace {

// As a TELNET close does after its half-close: the channel's end of file
// follows the last bytes typed, and what the console still sends is read and
// dropped until the server ends the channel or CLOSE_DRAIN_LIMIT passes.
// Tearing the session down at once could make the server drop the last
// line typed (a reload's confirmation) before the console has read it.
void drainUntilServerCloses(Console& c) {
  ssh_channel ch = c.channel.get();
  if (ch == nullptr || !ssh_channel_is_open(ch) || ssh_channel_send_eof(ch) != SSH_OK) return;
  const auto deadline = std::chrono::steady_clock::now() + CLOSE_DRAIN_LIMIT;
  std::array<char, 512> scratch{};
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0 || ssh_channel_is_eof(ch) != 0) return;
    const int waiting = ssh_channel_poll_timeout(ch, static_cast<int>(left), 0);
    if (waiting <= 0) return;  // silence till the limit, the end, or an error
    if (ssh_channel_read_nonblocking(ch, scratch.data(), static_cast<uint32_t>(scratch.size()), 0) < 0) return;
  }
}

// Reaches the server for a console or a host-key check: checks the request,
// connects, sets up the session, exchanges keys and checks the host key
// under policy (no credential has been sent yet). TELNET_SUCCESS with
// console ready for the login, or the code with its reason in why.
int reach(Console& console, const char* host, int port, const char* user, int connectMillis, int policy,
          std::string& why) {
  if (host == nullptr || *host == '\0') {
    why = "no host";
    return TELNET_BAD_HOST;
  }
  startLibssh();
  routeLibsshLog(-1);
  const std::string name = knownHostsName(host, port);
  const std::string knownHosts = sshcon_knownHosts();
  if (knownHosts.empty()) {
    why = "no known_hosts file: the process's user has no home folder";
    return SSHCON_HOSTKEY_ERROR;
  }
  const int sock = tcpConnect(host, port, connectMillis);
  if (sock < 0) {
    why = "cannot connect to " + name;
    return sock;
  }
  console.handle = sock;
  routeLibsshLog(sock);
  console.libsshFd = fcntl(sock, F_DUPFD_CLOEXEC, 0);
  if (console.libsshFd < 0) {
    why = "cannot duplicate the socket: " + std::string(sockErrorText(errno));
    return TELNET_CONN_ERR;
  }
  console.session.reset(ssh_new());
  ssh_session s = console.session.get();
  if (s == nullptr || !configure(s, host, port, user, console.libsshFd, connectMillis, knownHosts)) {
    why = "cannot set up an SSH session";
    return TELNET_CONN_ERR;
  }
  if (ssh_connect(s) != SSH_OK) {
    why = "SSH connection to " + name + " failed: " + ssh_get_error(s);
    return TELNET_CONN_ERR;
  }
  console.hostKey = hostKeyText(s);
  if (debugAtLeast(1)) {
    logit("sshcon_open:%d: transport SSH to %s, host key %s\n", sock, name.c_str(), console.hostKey.c_str());
  }
  const HostKeyVerdict verdict = checkHostKey(s, name, console.hostKey, knownHosts, policy);
  if (verdict.code != TELNET_SUCCESS) {
    why = verdict.why;
    return verdict.code;
  }
  if (verdict.added) {
    logit("sshcon_open:%d: host key %s of %s added to %s\n", sock, console.hostKey.c_str(), name.c_str(),
          escaped(knownHosts).c_str());
  }
  return TELNET_SUCCESS;
}

// Copies a text into a caller's buffer of size bytes (null or 0: nothing).
void handBack(const std::string& text, char* out, int size) {
  if (out != nullptr && size > 0) std::snprintf(out, static_cast<std::size_t>(size), "%s", text.c_str());
}

}  // namespace

SshHandle sshcon_open(const char* host, int port, const char* user, const char* password, int connectMillis,
                      char* why, int whySize) {
  handBack("", why, whySize);
  if (host == nullptr || *host == '\0') return refuse(host, TELNET_BAD_HOST, "no host", why, whySize);
  if (user == nullptr || *user == '\0') return refuse(host, TELNET_BAD_STRING, "no user name", why, whySize);
  if (password == nullptr) return refuse(host, TELNET_BAD_STRING, "no password", why, whySize);
  if (port == 0) port = SSHCON_DEFAULT_PORT;
  // Whatever libssh or the server says about the login, the password is
  // masked in every line logged on this thread while the opening runs.
  const modburn::SecretScope secret{password};
  auto console = std::make_shared<Console>();
  std::string reason;
  if (const int rc = reach(*console, host, port, user, connectMillis, gPolicy.load(), reason); rc != TELNET_SUCCESS) {
    return refuse(host, rc, reason, why, whySize);
  }
  ssh_session s = console->session.get();
  const int sock = console->handle;
  const char* method = "";
  const Refusal denied = login(s, user, password, &method);
  if (denied.code != TELNET_SUCCESS) return refuse(host, denied.code, denied.why, why, whySize);
  if (debugAtLeast(1)) logit("sshcon_open:%d: logged in as %s by %s\n", sock, escaped(user).c_str(), method);

  const Refusal noShell = openShell(*console);
  if (noShell.code != TELNET_SUCCESS) return refuse(host, noShell.code, noShell.why, why, whySize);
  addConsole(sock, std::move(console));
  if (debugAtLeast(1)) logit("sshcon_open:%d: returns successfully\n", sock);
  return sock;
}

int sshcon_checkHostKey(const char* host, int port, int connectMillis, char* key, int keySize, char* why,
                        int whySize) {
  handBack("", key, keySize);
  handBack("", why, whySize);
  if (port == 0) port = SSHCON_DEFAULT_PORT;
  Console console;
  std::string reason;
  // Strict whatever the process's policy: a check only looks.
  const int rc = reach(console, host, port, nullptr, connectMillis, SSHCON_STRICT, reason);
  handBack(console.hostKey, key, keySize);
  const std::string shownHost = escaped(host != nullptr ? host : "");
  if (rc != TELNET_SUCCESS) {
    const std::string shown = escaped(reason);
    logit("sshcon_checkHostKey:%s: %s\n", shownHost.c_str(), shown.c_str());
    handBack(shown, why, whySize);
    return rc;
  }
  if (debugAtLeast(1)) logit("sshcon_checkHostKey:%s: host key %s is known\n", shownHost.c_str(), console.hostKey.c_str());
  return TELNET_SUCCESS;
}

int sshcon_read(SshHandle h, char* buf, int len, int timeoutMillis) {
  if (buf == nullptr || len < 1) return TELNET_BAD_BUFFER;
  const std::shared_ptr<Console> c = findConsole(h);
  if (!c) {
    logit("sshcon_read:%d: no such SSH session\n", h);
    return TELNET_BAD_HANDLE;
  }
  routeLibsshLog(h);
  ssh_channel ch = c->channel.get();
  const int waiting = ssh_channel_poll_timeout(ch, timeoutMillis > 0 ? timeoutMillis : 0, 0);
  if (waiting == 0) {
    if (debugAtLeast(2)) logit("sshcon_read:%d: TIMEOUT after %d ms\n", h, timeoutMillis);
    return TELNET_TIMEOUT;
  }
  if (waiting == SSH_EOF) {
    logit("sshcon_read:%d: Server end shut down\n", h);
    return TELNET_CONN_LOST;
  }
  const int n = waiting > 0 ? ssh_channel_read_nonblocking(ch, buf, static_cast<uint32_t>(std::min(waiting, len)), 0)
                            : SSH_ERROR;
  if (n > 0) return n;
  logit("sshcon_read:%d: channel read failed (%s)\n", h, escaped(ssh_get_error(c->session.get())).c_str());
  return TELNET_CONN_LOST;
}

int sshcon_write(SshHandle h, const char* data, int len) {
  if (data == nullptr || len <= 0) return TELNET_BAD_STRING;
  const std::shared_ptr<Console> c = findConsole(h);
  if (!c) {
    logit("sshcon_write:%d: no such SSH session\n", h);
    return TELNET_BAD_HANDLE;
  }
  routeLibsshLog(h);
  if (ssh_channel_write(c->channel.get(), data, static_cast<uint32_t>(len)) == len) return TELNET_SUCCESS;
  logit("sshcon_write:%d: channel write failed (%s)\n", h, escaped(ssh_get_error(c->session.get())).c_str());
  return TELNET_CONN_LOST;
}

int sshcon_close(SshHandle h) {
  if (debugAtLeast(1)) logit("sshcon_close: closing handle %d\n", h);
  std::shared_ptr<Console> c = takeConsole(h);
  if (!c) {
    logit("sshcon_close: got BADHANDLE error\n");
    return TELNET_BAD_HANDLE;
  }
  routeLibsshLog(h);
  drainUntilServerCloses(*c);
  c.reset();
  return TELNET_SUCCESS;
}

bool sshcon_isSession(int h) { return h >= 0 && gOpenConsoles.load() > 0 && findConsole(h) != nullptr; }

std::string sshcon_hostKey(SshHandle h) {
  const std::shared_ptr<Console> c = findConsole(h);
  return c ? c->hostKey : std::string();
}
