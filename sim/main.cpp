// switchsim: simulated switch consoles on loopback addresses, for tests and
// demos. See sim/README.md for the options and the scenario format.
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scenario.h"
#include "simulator.h"

namespace {

using switchsim::Listener;
using switchsim::Scenario;
using switchsim::SessionResult;
using switchsim::SimOptions;

const char kUsage[] =
    "usage: switchsim --listen ADDR[:PORT] --scenario FILE [--transcript FILE]\n"
    "                 [--once | --count N] [--echo-password] [--accept-timeout-ms MS] [--option OPTION]...\n"
    "       switchsim --config FILE [--transcript-dir DIR] [--once | --count N]\n"
    "                 [--echo-password] [--accept-timeout-ms MS] [--option OPTION]...\n"
    "       switchsim --stdio SCENARIO [--transcript FILE | --transcript-dir DIR] [--echo-password]\n"
    "       switchsim --stdio-map MAP [--transcript FILE | --transcript-dir DIR] [--echo-password]\n"
    "       switchsim --check FILE...\n";

switchsim::StopSignal* g_stop = nullptr;

extern "C" void on_signal(int) {
  if (g_stop) g_stop->raise();
}

// Loads a scenario and applies the command line's options to it, as if it
// ended with their "option" statements.
bool load_with_options(const std::string& file, const std::vector<std::string>& options, Scenario& sc) {
  std::string error;
  if (!switchsim::load_scenario(file, sc, error)) {
    std::cerr << error << '\n';
    return false;
  }
  for (const std::string& option : options) {
    if (!switchsim::apply_option(sc, option, error)) {
      std::cerr << "switchsim: " << error << '\n';
      return false;
    }
  }
  return true;
}

// One simulated switch of the command line or of a config file.
struct Entry {
  std::string address;
  uint16_t port = 23;
  std::string scenario_file;
  std::string transcript_file;
  Scenario scenario;
  Listener listener;
};

// A transcript file shared by the sessions that write to it.
class TranscriptFile {
 public:
  bool open(const std::string& path) {
    out_.open(path, std::ios::trunc);
    return static_cast<bool>(out_);
  }
  void write(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    out_ << line << '\n';
    out_.flush();
  }

 private:
  std::mutex mutex_;
  std::ofstream out_;
};

// "127.0.0.7", "127.0.0.7:23", "[::1]:23" or "::1".
bool split_listen(const std::string& text, std::string& address, uint16_t& port) {
  std::string port_text;
  if (!text.empty() && text.front() == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos) return false;
    address = text.substr(1, close - 1);
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') return false;
      port_text = text.substr(close + 2);
    }
  } else if (text.find(':') != text.rfind(':')) {
    address = text;  // bare IPv6
  } else {
    size_t colon = text.find(':');
    address = text.substr(0, colon);
    if (colon != std::string::npos) port_text = text.substr(colon + 1);
  }
  if (address.empty()) return false;
  if (port_text.empty()) return true;
  char* end = nullptr;
  long value = std::strtol(port_text.c_str(), &end, 10);
  if (*end != '\0' || value < 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

bool parse_count(const char* text, int& out) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || value < 0 || value > 1000000000) return false;
  out = static_cast<int>(value);
  return true;
}

// Reads a config file: one switch per line, "ADDR[:PORT] SCENARIO"; scenario
// paths are relative to the config file's folder.
bool read_config(const std::string& path, std::vector<std::unique_ptr<Entry>>& entries) {
  std::vector<switchsim::TableRow> rows;
  std::string error;
  if (!switchsim::read_table(path, rows, error)) {
    std::cerr << "switchsim: " << error << '\n';
    return false;
  }
  for (const switchsim::TableRow& row : rows) {
    auto entry = std::make_unique<Entry>();
    if (row.words.size() != 2 || !split_listen(row.words[0], entry->address, entry->port)) {
      std::cerr << "switchsim: " << path << ":" << row.line << ": expected 'ADDR[:PORT] SCENARIO'\n";
      return false;
    }
    entry->scenario_file = switchsim::relative_to(path, row.words[1]);
    entries.push_back(std::move(entry));
  }
  if (entries.empty()) {
    std::cerr << "switchsim: " << path << ": no switches listed\n";
    return false;
  }
  return true;
}

int check(int argc, char** argv, int first) {
  int bad = 0;
  for (int i = first; i < argc; ++i) {
    Scenario sc;
    std::string error;
    if (switchsim::load_scenario(argv[i], sc, error)) {
      std::cout << argv[i] << ": " << sc.steps.size() << " steps\n";
    } else {
      std::cerr << error << '\n';
      ++bad;
    }
  }
  return bad == 0 ? 0 : 1;
}

std::string file_name_for(const std::string& address, uint16_t port) {
  std::string name;
  for (char c : address) name += (c == ':' ? '_' : c);
  return name + "_" + std::to_string(port) + ".transcript";
}

// What --stdio and --stdio-map play and where the transcript goes.
struct StdioRequest {
  std::string scenario_file;
  std::string map_file;
  std::string transcript;
  std::string transcript_dir;
  std::vector<std::string> options;
};

std::string user_name() {
  const passwd* pw = getpwuid(getuid());
  return pw != nullptr && pw->pw_name != nullptr ? pw->pw_name : "";
}

// Plays one session on standard input and output: the scenario given, or the
// one the console map picks for the SSH session's user or server port.
int serve_stdio(StdioRequest req, SimOptions opts) {
  std::string peer = "stdio";
  int port = 0;
  if (const char* connection = std::getenv("SSH_CONNECTION")) {
    switchsim::parse_ssh_connection(connection, peer, port);
  }
  const std::string user = user_name();
  opts.user = user;
  std::string error;
  if (!req.map_file.empty()) {
    std::vector<switchsim::ConsoleRule> rules;
    if (!switchsim::read_console_map(req.map_file, rules, error)) {
      std::cerr << "switchsim: " << error << '\n';
      return 2;
    }
    const switchsim::ConsoleRule* rule = switchsim::pick_rule(rules, user, port);
    if (rule == nullptr) {
      std::cerr << "switchsim: " << req.map_file << ": no console for user " << user << " on port " << port << '\n';
      return 2;
    }
    req.scenario_file = rule->scenario;
    if (!rule->fault_file.empty() && !switchsim::read_fault_file(rule->fault_file, opts, error)) {
      std::cerr << "switchsim: " << error << '\n';
      return 2;
    }
  }
  Scenario sc;
  if (!load_with_options(req.scenario_file, req.options, sc)) return 2;
  if (req.transcript.empty() && !req.transcript_dir.empty()) {
    req.transcript = req.transcript_dir + "/" + user + "-" + std::to_string(port) + "-" +
                     std::to_string(getpid()) + ".transcript";
  }
  TranscriptFile file;
  if (!req.transcript.empty()) {
    if (!file.open(req.transcript)) {
      std::cerr << "switchsim: cannot write " << req.transcript << '\n';
      return 2;
    }
    opts.transcript = [&file](const std::string& line) { file.write(line); };
  }
  switchsim::StopSignal stop;
  g_stop = &stop;
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  std::signal(SIGPIPE, SIG_IGN);
  // The hang-up of a terminal whose client has gone is seen as the client
  // closing, and recorded as such, rather than ending the program.
  std::signal(SIGHUP, SIG_IGN);
  SessionResult r = switchsim::play_stdio(STDIN_FILENO, STDOUT_FILENO, sc, opts, stop.fd(), peer);
  g_stop = nullptr;
  return r.completed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string listen, scenario_file, transcript, config, transcript_dir;
  StdioRequest stdio;
  std::vector<std::string> options;
  SimOptions opts;
  opts.sessions = 0;
  opts.accept_timeout_ms = -1;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "--check") return check(argc, argv, i + 1);
    if (arg == "--once") {
      opts.sessions = 1;
    } else if (arg == "--echo-password") {
      opts.echo_password = true;
    } else if (arg == "--count" && has_value) {
      if (!parse_count(argv[++i], opts.sessions) || opts.sessions == 0) {
        std::cerr << "switchsim: --count needs a number above 0\n";
        return 2;
      }
    } else if (arg == "--accept-timeout-ms" && has_value) {
      if (!parse_count(argv[++i], opts.accept_timeout_ms)) {
        std::cerr << "switchsim: --accept-timeout-ms needs a number\n";
        return 2;
      }
    } else if (arg == "--option" && has_value) {
      options.emplace_back(argv[++i]);
    } else if (arg == "--listen" && has_value) {
      listen = argv[++i];
    } else if (arg == "--scenario" && has_value) {
      scenario_file = argv[++i];
    } else if (arg == "--transcript" && has_value) {
      transcript = argv[++i];
    } else if (arg == "--config" && has_value) {
      config = argv[++i];
    } else if (arg == "--transcript-dir" && has_value) {
      transcript_dir = argv[++i];
    } else if (arg == "--stdio" && has_value) {
      stdio.scenario_file = argv[++i];
    } else if (arg == "--stdio-map" && has_value) {
      stdio.map_file = argv[++i];
    } else {
      std::cerr << kUsage;
      return 2;
    }
  }

  if (!stdio.scenario_file.empty() || !stdio.map_file.empty()) {
    const bool one_source = stdio.scenario_file.empty() != stdio.map_file.empty();
    if (!one_source || !listen.empty() || !scenario_file.empty() || !config.empty() ||
        (!transcript.empty() && !transcript_dir.empty())) {
      std::cerr << kUsage;
      return 2;
    }
    stdio.transcript = transcript;
    stdio.transcript_dir = transcript_dir;
    stdio.options = options;
    opts.sessions = 1;
    return serve_stdio(std::move(stdio), opts);
  }

  std::vector<std::unique_ptr<Entry>> entries;
  if (!config.empty() && listen.empty() && scenario_file.empty() && transcript.empty()) {
    if (!read_config(config, entries)) return 2;
    for (auto& e : entries) {
      if (transcript_dir.empty()) continue;
      e->transcript_file = transcript_dir + "/" + file_name_for(e->address, e->port);
    }
  } else if (config.empty() && !listen.empty() && !scenario_file.empty() && transcript_dir.empty()) {
    auto entry = std::make_unique<Entry>();
    if (!split_listen(listen, entry->address, entry->port)) {
      std::cerr << "switchsim: bad --listen '" << listen << "'\n";
      return 2;
    }
    entry->scenario_file = scenario_file;
    entry->transcript_file = transcript;
    entries.push_back(std::move(entry));
  } else {
    std::cerr << kUsage;
    return 2;
  }

  // Each console holds a listener and a session: a thousand of them need more
  // descriptors than the usual soft limit, so take what the hard limit allows.
  rlimit files_limit{};
  if (getrlimit(RLIMIT_NOFILE, &files_limit) == 0 && files_limit.rlim_cur < files_limit.rlim_max) {
    files_limit.rlim_cur = files_limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files_limit);
  }
  const rlim_t needed = 2 * entries.size() + 16;  // a listener and a session each
  if (getrlimit(RLIMIT_NOFILE, &files_limit) == 0 && files_limit.rlim_cur < needed) {
    std::cerr << "switchsim: " << entries.size() << " consoles need about " << needed
              << " descriptors, but the limit is " << files_limit.rlim_cur
              << " (ulimit -n): some sessions will not be accepted\n";
  }

  std::map<std::string, std::unique_ptr<TranscriptFile>> files;
  for (auto& e : entries) {
    std::string error;
    if (!load_with_options(e->scenario_file, options, e->scenario)) return 2;
    if (!e->listener.open(e->address, e->port, error)) {
      std::cerr << "switchsim: " << error << '\n';
      return 2;
    }
    if (!e->transcript_file.empty() && !files.count(e->transcript_file)) {
      auto file = std::make_unique<TranscriptFile>();
      if (!file->open(e->transcript_file)) {
        std::cerr << "switchsim: cannot write " << e->transcript_file << '\n';
        return 2;
      }
      files[e->transcript_file] = std::move(file);
    }
  }

  switchsim::StopSignal stop;
  g_stop = &stop;
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  std::signal(SIGPIPE, SIG_IGN);

  std::mutex out_mutex;
  int failed = 0;
  std::vector<std::thread> threads;
  for (auto& e : entries) {
    std::printf("switchsim: listening on %s scenario %s\n", e->listener.name().c_str(),
                e->scenario_file.c_str());
  }
  std::fflush(stdout);
  for (auto& e : entries) {
    SimOptions mine = opts;
    if (!e->transcript_file.empty()) {
      TranscriptFile* file = files[e->transcript_file].get();
      mine.transcript = [file](const std::string& line) { file->write(line); };
    }
    threads.emplace_back([&, mine, entry = e.get()] {
      switchsim::serve(entry->listener, entry->scenario, mine, stop.fd(), [&](const SessionResult& r) {
        std::lock_guard<std::mutex> lock(out_mutex);
        if (!r.completed) ++failed;
        std::printf("switchsim: %s session from %s: %s%s%s\n", entry->listener.name().c_str(),
                    r.peer.c_str(), r.completed ? "" : "stopped at ", r.stopped_at.c_str(),
                    r.completed ? "completed" : (": " + r.outcome).c_str());
        std::fflush(stdout);
      });
    });
  }
  for (auto& t : threads) t.join();
  g_stop = nullptr;
  return failed == 0 ? 0 : 1;
}
