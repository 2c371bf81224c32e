// Table files of the simulator (the switch lists of --config, the console
// maps of --stdio-map) and the choice of a scenario for an SSH session.
#include <cstdlib>
#include <fstream>
#include <utility>

#include "simulator.h"

namespace switchsim {

bool read_table(const std::string& path, std::vector<TableRow>& rows, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = path + ": cannot read";
    return false;
  }
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    TableRow row;
    row.line = n;
    size_t at = 0;
    while ((at = line.find_first_not_of(" \t\r", at)) != std::string::npos) {
      size_t end = line.find_first_of(" \t\r", at);
      row.words.push_back(line.substr(at, end - at));
      at = end;
    }
    if (!row.words.empty()) rows.push_back(std::move(row));
  }
  return true;
}

std::string relative_to(const std::string& file, const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  size_t slash = file.rfind('/');
  return slash == std::string::npos ? path : file.substr(0, slash + 1) + path;
}

namespace {

// A decimal port 1-65535, or -1.
int port_number(std::string_view text) {
  if (text.empty() || text.size() > 5) return -1;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value >= 1 && value <= 65535 ? value : -1;
}

bool valid_key(const std::string& key) {
  if (key == "*") return true;
  if (key.rfind("user:", 0) == 0) return key.size() > 5;
  if (key.rfind("port:", 0) == 0) return port_number(std::string_view(key).substr(5)) > 0;
  return false;
}

}  // namespace

bool read_console_map(const std::string& path, std::vector<ConsoleRule>& rules, std::string& error) {
  constexpr std::string_view kFaults = "faults:";
  std::vector<TableRow> rows;
  if (!read_table(path, rows, error)) return false;
  for (const TableRow& row : rows) {
    const bool faults = row.words.size() == 3 && row.words[2].rfind(kFaults, 0) == 0 &&
                        row.words[2].size() > kFaults.size();
    if ((row.words.size() != 2 && !faults) || !valid_key(row.words[0])) {
      error = path + ":" + std::to_string(row.line) + ": expected 'user:NAME|port:N|* SCENARIO [faults:FILE]'";
      return false;
    }
    rules.push_back({row.words[0], relative_to(path, row.words[1]),
                     faults ? relative_to(path, row.words[2].substr(kFaults.size())) : std::string()});
  }
  if (rules.empty()) {
    error = path + ": no rules";
    return false;
  }
  return true;
}

const ConsoleRule* pick_rule(const std::vector<ConsoleRule>& rules, std::string_view user, int port) {
  const std::string by_user = "user:" + std::string(user);
  const std::string by_port = "port:" + std::to_string(port);
  for (const ConsoleRule& rule : rules) {
    if (rule.key == "*" || (!user.empty() && rule.key == by_user) || rule.key == by_port) return &rule;
  }
  return nullptr;
}

std::string pick_console(const std::vector<ConsoleRule>& rules, std::string_view user, int port) {
  const ConsoleRule* rule = pick_rule(rules, user, port);
  return rule != nullptr ? rule->scenario : "";
}

bool read_fault_file(const std::string& path, SimOptions& opts, std::string& error) {
  static const std::pair<std::string_view, Fault> kKinds[] = {
      {"close", Fault::Close},       {"reset", Fault::Reset},         {"stall", Fault::Stall},
      {"flood", Fault::Flood},       {"iac-flood", Fault::IacFlood},  {"chatter", Fault::Chatter},
      {"garbage", Fault::Garbage},   {"endless-sub", Fault::EndlessSub}, {"drip", Fault::Drip},
      {"escapes", Fault::Escapes},
  };
  std::ifstream in(path);
  std::string kind, after, max_ms, extra;
  if (!(in >> kind)) return true;  // missing or empty: no fault
  in >> after >> max_ms >> extra;
  Fault fault = Fault::None;
  for (const auto& [name, value] : kKinds) {
    if (kind == name) fault = value;
  }
  const int lines = port_number(after);
  const int most = max_ms.empty() ? opts.stall_max_ms : std::atoi(max_ms.c_str());
  if (fault == Fault::None || lines < 0 || most <= 0 || !extra.empty()) {
    error = path + ": expected 'KIND AFTER_LINES [MAX_MS]'";
    return false;
  }
  opts.fault = fault;
  opts.fault_after_lines = lines;
  opts.stall_max_ms = most;
  return true;
}

bool parse_ssh_connection(std::string_view text, std::string& peer, int& server_port) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while ((at = text.find_first_not_of(' ', at)) != std::string_view::npos) {
    size_t end = text.find(' ', at);
    words.push_back(text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
    at = end;
  }
  if (words.size() != 4 || port_number(words[1]) < 0 || port_number(words[3]) < 0) return false;
  const std::string addr(words[0]);
  peer = (addr.find(':') != std::string::npos ? "[" + addr + "]" : addr) + ":" + std::string(words[1]);
  server_port = port_number(words[3]);
  return true;
}

}  // namespace switchsim
