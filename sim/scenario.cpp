#include "scenario.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

namespace switchsim {

namespace {

struct NamedByte {
  std::string_view name;
  unsigned char byte;
};

// TELNET command bytes by name (RFC 854).
constexpr std::array<NamedByte, 16> kCommands{{
    {"SE", 240}, {"NOP", 241}, {"DM", 242}, {"BRK", 243}, {"IP", 244}, {"AO", 245},
    {"AYT", 246}, {"EC", 247}, {"EL", 248}, {"GA", 249}, {"SB", 250}, {"WILL", 251},
    {"WONT", 252}, {"DO", 253}, {"DONT", 254}, {"IAC", 255},
}};

// The TELNET options a console scenario is likely to name.
constexpr std::array<NamedByte, 11> kOptions{{
    {"BINARY", 0}, {"ECHO", 1}, {"SGA", 3}, {"STATUS", 5}, {"TM", 6}, {"TTYPE", 24},
    {"NAWS", 31}, {"TSPEED", 32}, {"LFLOW", 33}, {"LINEMODE", 34}, {"NEW_ENV", 39},
}};

constexpr int kMaxIncludeDepth = 8;

// The fields of a printed text that show the firmware versions.
constexpr char kRunningField[] = "${running}";
constexpr char kInstalledField[] = "${installed}";
// Prints nothing: marks a text as part of the version listing, which a
// failing listing replaces.
constexpr char kListingField[] = "${listing}";
// The user the console greets in its prompts (SimOptions::user).
constexpr char kUserField[] = "${user}";

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes escapes; with split_stars, an unescaped '*' ends a piece instead of
// standing for itself (the pieces of a Glob).
bool decode(std::string_view in, bool split_stars, std::vector<std::string>& pieces,
            std::string& error) {
  pieces.assign(1, std::string());
  for (size_t i = 0; i < in.size(); ++i) {
    char c = in[i];
    if (c == '*' && split_stars) {
      pieces.emplace_back();
      continue;
    }
    if (c != '\\') {
      pieces.back() += c;
      continue;
    }
    if (++i == in.size()) {
      error = "a backslash ends the text";
      return false;
    }
    switch (in[i]) {
      case 'r': pieces.back() += '\r'; break;
      case 'n': pieces.back() += '\n'; break;
      case 't': pieces.back() += '\t'; break;
      case 'e': pieces.back() += '\x1b'; break;
      case '\\': pieces.back() += '\\'; break;
      case '"': pieces.back() += '"'; break;
      case '*': pieces.back() += '*'; break;
      case 'x': {
        int hi = i + 1 < in.size() ? hex_value(in[i + 1]) : -1;
        int lo = i + 2 < in.size() ? hex_value(in[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
          error = "\\x needs two hex digits";
          return false;
        }
        pieces.back() += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default:
        error = std::string("unknown escape \\") + in[i];
        return false;
    }
  }
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// An argument wholly inside double quotes keeps its blanks: the quotes go.
std::string_view unquote(std::string_view arg) {
  if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"') return arg.substr(1, arg.size() - 2);
  return arg;
}

std::string folder_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool read_file(const std::string& path, std::string& text, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::ostringstream all;
  all << in.rdbuf();
  text = all.str();
  return true;
}

// Parses one scenario text (and, recursively, the files it includes) into out.
class Parser {
 public:
  Parser(Scenario& out, std::string& error) : out_(out), error_(error) {}

  bool parse(std::string_view text, const std::string& file, int depth) {
    int line_no = 0;
    while (!text.empty()) {
      size_t nl = text.find('\n');
      std::string_view line = text.substr(0, nl);
      text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
      ++line_no;
      where_ = file + ":" + std::to_string(line_no);
      line = trim(line);
      if (line.empty() || line.front() == '#') continue;
      size_t blank = line.find_first_of(" \t");
      std::string_view word = line.substr(0, blank);
      std::string_view arg = blank == std::string_view::npos ? std::string_view() : trim(line.substr(blank));
      if (word == "include") {
        if (!include(arg, file, depth)) return false;
        continue;
      }
      if (!statement(word, arg)) return false;
    }
    return true;
  }

  // Where a console-login begins that never ends; "" when every one ends.
  std::string open_login() const { return in_login_ ? login_at_ : std::string(); }

  // Where a text shows a version while no firmware is declared; "" when none does.
  std::string undeclared_firmware() const {
    const FirmwareStart& f = out_.firmware;
    return f.used_at.empty() || f.declared ? std::string() : f.used_at;
  }

 private:
  bool fail(const std::string& message) {
    error_ = where_ + ": " + message;
    return false;
  }

  bool include(std::string_view arg, const std::string& file, int depth) {
    if (arg.empty()) return fail("include needs a file name");
    if (depth >= kMaxIncludeDepth) return fail("includes nested too deeply");
    std::string path(unquote(arg));
    if (path.front() != '/') path = folder_of(file) + path;
    std::string text, why;
    if (!read_file(path, text, why)) return fail(why);
    std::string outer = where_;
    if (!parse(text, path, depth + 1)) return false;
    where_ = outer;
    return true;
  }

  bool text_arg(std::string_view arg, std::string& bytes) {
    std::vector<std::string> pieces;
    std::string why;
    if (!decode(unquote(arg), false, pieces, why)) return fail(why);
    bytes = std::move(pieces.front());
    return version_fields(bytes);
  }

  // A printed text may show the firmware versions: ${running} and
  // ${installed}, filled in as it is sent; ${listing} marks it as part of the
  // listing; ${user} shows the session's user. Any other ${...} is a typo.
  bool version_fields(std::string_view text) {
    for (size_t at = text.find("${"); at != std::string_view::npos; at = text.find("${", at + 2)) {
      const size_t end = text.find('}', at);
      const std::string_view name = end == std::string_view::npos ? text.substr(at) : text.substr(at, end - at + 1);
      if (name == kUserField) continue;
      if (name != kRunningField && name != kInstalledField && name != kListingField) {
        return fail("unknown field '" + std::string(name) + "' (fields: " + kRunningField + ", " + kInstalledField +
                    ", " + kListingField + ", " + kUserField + ")");
      }
      if (out_.firmware.used_at.empty()) out_.firmware.used_at = where_;
    }
    return true;
  }

  // "firmware RUNNING [INSTALLED]": the versions the switch starts with (the
  // installed one is the running one unless given); a later one replaces it.
  bool firmware(std::string_view arg) {
    std::string running, installed;
    const size_t blank = arg.find_first_of(" \t");
    if (!text_arg(arg.substr(0, blank), running)) return false;
    if (blank != std::string_view::npos && !text_arg(trim(arg.substr(blank)), installed)) return false;
    if (running.empty()) return fail("firmware needs the running version");
    if (installed.find_first_of(" \t") != std::string::npos) return fail("firmware takes two versions at most");
    out_.firmware.declared = true;
    out_.firmware.running = running;
    out_.firmware.installed = installed.empty() ? running : installed;
    return true;
  }

  // "install [VERSION]" and "reboot": the firmware steps.
  bool firmware_step(std::string_view word, std::string_view arg, Step& step) {
    if (word == "install") {
      step.kind = StepKind::Install;
      return arg.empty() || text_arg(arg, step.text);
    }
    step.kind = StepKind::Reboot;
    return arg.empty() || fail("reboot takes nothing");
  }

  static bool is_firmware_option(std::string_view name) {
    return name == "image-not-taken" || name == "listing-fails" || name == "reboot-down-ms";
  }

  // The options of the simulated firmware; false (error set) for a bad value.
  bool firmware_option(std::string_view name, std::string_view value) {
    ScenarioOptions& o = out_.options;
    if (name == "image-not-taken") {
      if (!value.empty()) return fail("option image-not-taken takes no value");
      o.image_not_taken = true;
      return true;
    }
    if (name == "listing-fails") {
      if (value.empty()) {
        o.listing_fails = ListingFault::Always;
      } else if (value == "after-reboot") {
        o.listing_fails = ListingFault::AfterReboot;
      } else {
        return fail("option listing-fails takes nothing or 'after-reboot'");
      }
      return true;
    }
    return number_arg(value, o.reboot_down_ms);
  }

  bool glob_arg(std::string_view arg, Glob& glob) {
    std::vector<std::string> pieces;
    std::string why;
    std::string_view inner = unquote(arg);
    if (!decode(inner, true, pieces, why)) return fail(why);
    glob = Glob(std::move(pieces), std::string(inner));
    return true;
  }

  bool number_arg(std::string_view arg, int& value) {
    auto [end, ec] = std::from_chars(arg.data(), arg.data() + arg.size(), value);
    if (arg.empty() || ec != std::errc() || end != arg.data() + arg.size() || value < 0) {
      return fail("'" + std::string(arg) + "' is not a number of milliseconds");
    }
    return true;
  }

  bool iac_bytes(std::string_view tokens, std::string& bytes) {
    while (!(tokens = trim(tokens)).empty()) {
      size_t blank = tokens.find_first_of(" \t");
      std::string_view token = tokens.substr(0, blank);
      tokens = blank == std::string_view::npos ? std::string_view() : tokens.substr(blank);
      int byte = telnet_byte(token);
      if (byte < 0) return fail("'" + std::string(token) + "' is not a TELNET command, option or byte");
      bytes += static_cast<char>(byte);
    }
    return true;
  }

  bool option(std::string_view arg) {
    size_t blank = arg.find_first_of(" \t");
    std::string_view name = arg.substr(0, blank);
    std::string_view value = blank == std::string_view::npos ? std::string_view() : trim(arg.substr(blank));
    ScenarioOptions& o = out_.options;
    if (name == "echo-password") {
      if (!value.empty()) return fail("option echo-password takes no value");
      o.echo_password = true;
      return true;
    }
    if (name == "opening") return opening(value);
    std::pair<std::string_view, int*> numbers[] = {
        {"idle-ms", &o.idle_ms}, {"expect-timeout-ms", &o.expect_timeout_ms},
        {"linger-ms", &o.linger_ms}, {"silence-max-ms", &o.silence_max_ms},
    };
    for (auto& [known, field] : numbers) {
      if (name == known) return number_arg(value, *field);
    }
    if (is_firmware_option(name)) return firmware_option(name, value);
    return fail("unknown option '" + std::string(name) + "'");
  }

  // "option opening none" or commands separated by commas: "DO TTYPE, WILL ECHO".
  bool opening(std::string_view value) {
    std::string bytes;
    if (value.empty()) return fail("option opening needs commands or 'none'");
    if (value != "none") {
      size_t comma = 0;
      do {
        comma = value.find(',');
        std::string_view command = trim(value.substr(0, comma));
        if (comma != std::string_view::npos) value.remove_prefix(comma + 1);
        if (command.empty()) return fail("option opening has an empty command");
        bytes += '\xff';
        if (!iac_bytes(command, bytes)) return false;
      } while (comma != std::string_view::npos);
    }
    out_.options.opening = bytes;
    return true;
  }

  // "console-login begin" / "console-login end": marks the steps between.
  bool console_login(std::string_view arg) {
    if (arg != "begin" && arg != "end") return fail("console-login takes 'begin' or 'end'");
    const bool begin = arg == "begin";
    if (begin == in_login_) return fail(begin ? "console-login begun twice" : "console-login ends without a begin");
    in_login_ = begin;
    login_at_ = where_;
    return true;
  }

  bool statement(std::string_view word, std::string_view arg) {
    if (word == "option") return option(arg);
    if (word == "console-login") return console_login(arg);
    if (word == "firmware") return firmware(arg);
    if (word == "echo-password") return option("echo-password");
    if (ended_) {
      return fail("'" + std::string(word) + "' never runs: the session has ended at " + ended_at_);
    }
    Step step;
    step.where = where_;
    step.console_login = in_login_;
    if (word == "send") {
      step.kind = StepKind::Send;
      if (arg.empty()) return fail("send needs text");
      if (!text_arg(arg, step.text)) return false;
    } else if (word == "expect") {
      step.kind = StepKind::Expect;
      if (!arg.empty() && !glob_arg(arg, step.pattern)) return false;
    } else if (word == "reply") {
      step.kind = StepKind::Reply;
      size_t arrow = arg.find(" =>");
      if (arrow == std::string_view::npos) return fail("reply needs 'PATTERN => TEXT'");
      std::string_view pattern = trim(arg.substr(0, arrow));
      if (pattern.empty()) return fail("reply needs a pattern before '=>'");
      if (!glob_arg(pattern, step.pattern)) return false;
      if (!text_arg(trim(arg.substr(arrow + 3)), step.text)) return false;
    } else if (word == "pause") {
      step.kind = StepKind::Pause;
      if (!number_arg(arg, step.ms)) return false;
    } else if (word == "silence") {
      step.kind = StepKind::Silence;
      if (!arg.empty() && !number_arg(arg, step.ms)) return false;
    } else if (word == "noecho") {
      step.kind = StepKind::NoEcho;
      if (arg != "on" && arg != "off") return fail("noecho takes 'on' or 'off'");
      step.on = arg == "on";
    } else if (word == "close") {
      step.kind = StepKind::Close;
      if (!arg.empty()) return fail("close takes nothing");
    } else if (word == "install" || word == "reboot") {
      if (!firmware_step(word, arg, step)) return false;
    } else if (word == "iac") {
      step.kind = StepKind::Iac;
      step.text = "\xff";
      if (arg.empty()) return fail("iac needs a command");
      if (!iac_bytes(arg, step.text)) return false;
    } else {
      return fail("unknown step '" + std::string(word) + "'");
    }
    // After a close or an open-ended silence nothing more can happen.
    if (step.kind == StepKind::Close || (step.kind == StepKind::Silence && step.ms == 0)) {
      ended_ = true;
      ended_at_ = where_;
    }
    out_.steps.push_back(std::move(step));
    return true;
  }

  Scenario& out_;
  std::string& error_;
  std::string where_;
  bool ended_ = false;
  std::string ended_at_;
  bool in_login_ = false;
  std::string login_at_;
};

}  // namespace

Glob::Glob(std::vector<std::string> pieces, std::string shown)
    : match_all_(false), pieces_(std::move(pieces)), shown_(std::move(shown)) {}

bool Glob::matches(std::string_view text) const {
  if (match_all_) return true;
  if (pieces_.size() == 1) return text == pieces_.front();
  // First piece anchors the start, last piece the end, the middle ones are
  // found leftmost in order (leftmost is enough: a star absorbs any gap).
  const std::string& first = pieces_.front();
  const std::string& last = pieces_.back();
  if (text.size() < first.size() + last.size()) return false;
  if (text.substr(0, first.size()) != first) return false;
  if (text.substr(text.size() - last.size()) != last) return false;
  std::string_view middle = text.substr(first.size(), text.size() - first.size() - last.size());
  for (size_t i = 1; i + 1 < pieces_.size(); ++i) {
    size_t at = middle.find(pieces_[i]);
    if (at == std::string_view::npos) return false;
    middle.remove_prefix(at + pieces_[i].size());
  }
  return true;
}

bool parse_scenario(std::string_view text, const std::string& file_name, Scenario& out,
                    std::string& error) {
  out = Scenario();
  out.name = file_name;
  Parser parser(out, error);
  if (!parser.parse(text, file_name, 0)) return false;
  if (const std::string at = parser.open_login(); !at.empty()) {
    error = at + ": console-login begins but never ends ('console-login end')";
    return false;
  }
  if (const std::string at = parser.undeclared_firmware(); !at.empty()) {
    error = at + ": a text shows a firmware version, but the scenario declares none ('firmware RUNNING')";
    return false;
  }
  return true;
}

bool apply_option(Scenario& sc, std::string_view option, std::string& error) {
  error.clear();
  Scenario patched = sc;
  Parser parser(patched, error);
  if (!parser.parse("option " + std::string(option), "--option", 0)) return false;
  sc.options = patched.options;
  return true;
}

bool load_scenario(const std::string& path, Scenario& out, std::string& error) {
  std::string text, why;
  if (!read_file(path, text, why)) {
    error = path + ": " + why;
    return false;
  }
  return parse_scenario(text, path, out, error);
}

bool unescape(std::string_view in, std::string& out, std::string& error) {
  std::vector<std::string> pieces;
  if (!decode(in, false, pieces, error)) return false;
  out = std::move(pieces.front());
  return true;
}

std::string escape(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    switch (c) {
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c >= 0x20 && c < 0x7f) {
          out += static_cast<char>(c);
        } else {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        }
    }
  }
  return out;
}

int telnet_byte(std::string_view token) {
  for (const auto& c : kCommands) {
    if (token == c.name) return c.byte;
  }
  for (const auto& o : kOptions) {
    if (token == o.name) return o.byte;
  }
  int value = -1;
  auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (token.empty() || ec != std::errc() || end != token.data() + token.size()) return -1;
  return value >= 0 && value <= 255 ? value : -1;
}

std::string telnet_name(unsigned char byte, bool option) {
  if (option) {
    for (const auto& o : kOptions) {
      if (o.byte == byte) return std::string(o.name);
    }
  } else {
    for (const auto& c : kCommands) {
      if (c.byte == byte) return std::string(c.name);
    }
  }
  return std::to_string(byte);
}

}  // namespace switchsim
