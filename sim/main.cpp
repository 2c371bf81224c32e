// switchsim: simulated switch consoles on loopback addresses, for tests and
// demos. See sim/README.md for the options and the scenario format.
#include <sys/resource.h>

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
    "                 [--once | --count N] [--echo-password] [--accept-timeout-ms MS]\n"
    "       switchsim --config FILE [--transcript-dir DIR] [--once | --count N]\n"
    "                 [--echo-password] [--accept-timeout-ms MS]\n"
    "       switchsim --check FILE...\n";

switchsim::StopSignal* g_stop = nullptr;

extern "C" void on_signal(int) {
  if (g_stop) g_stop->raise();
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
  std::ifstream in(path);
  if (!in) {
    std::cerr << "switchsim: " << path << ": cannot read\n";
    return false;
  }
  std::string folder = path.find('/') == std::string::npos ? "" : path.substr(0, path.rfind('/') + 1);
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::vector<std::string> words;
    size_t at = 0;
    while ((at = line.find_first_not_of(" \t\r", at)) != std::string::npos) {
      size_t end = line.find_first_of(" \t\r", at);
      words.push_back(line.substr(at, end - at));
      at = end;
    }
    if (words.empty()) continue;
    auto entry = std::make_unique<Entry>();
    if (words.size() != 2 || !split_listen(words[0], entry->address, entry->port)) {
      std::cerr << "switchsim: " << path << ":" << n << ": expected 'ADDR[:PORT] SCENARIO'\n";
      return false;
    }
    entry->scenario_file = words[1].front() == '/' ? words[1] : folder + words[1];
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

}  // namespace

int main(int argc, char** argv) {
  std::string listen, scenario_file, transcript, config, transcript_dir;
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
    } else {
      std::cerr << kUsage;
      return 2;
    }
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
    if (!switchsim::load_scenario(e->scenario_file, e->scenario, error)) {
      std::cerr << error << '\n';
      return 2;
    }
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
