// Scenarios of the switch-console simulator: the data model of one scripted
// console and the parser of the line-oriented scenario files (format in
// sim/README.md). A scenario is plain data, so a new switch family adds only
// scenario files, never simulator code.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace switchsim {

// A pattern for one typed line: literal text in which '*' stands for any run
// of characters (an escaped "\*" is a literal star). The empty pattern that
// a bare "expect" gives matches every line.
class Glob {
 public:
  Glob() = default;
  // A pattern from its pieces between the stars; shown is the text as written.
  Glob(std::vector<std::string> pieces, std::string shown);
  // True when text matches the whole pattern (always for the match-all pattern).
  bool matches(std::string_view text) const;
  // True for the match-all pattern of a bare "expect".
  bool matches_all() const { return match_all_; }
  // The pattern as written in the scenario, for messages.
  const std::string& shown() const { return shown_; }

 private:
  bool match_all_ = true;
  std::vector<std::string> pieces_;
  std::string shown_ = "(any line)";
};

enum class StepKind {
  Send,     // print text
  Iac,      // send raw TELNET command bytes
  Expect,   // wait for a typed line that matches
  Pause,    // wait, still reading and echoing what is typed
  NoEcho,   // stop or resume echoing typed characters (passwords)
  Silence,  // say nothing, echo nothing, until the client gives up (or ms pass)
  Close,    // close the connection
  Reply,    // from here on, answer a typed line that matches with text
  Install,  // a download succeeded: the image becomes the installed firmware
  Reboot,   // the switch restarts: the installed firmware becomes the running one
};

struct Step {
  StepKind kind = StepKind::Send;
  std::string where;  // "file:line" of the step, for messages
  std::string text;   // Send, Iac: bytes to send; Reply: the answer; Install: the version (empty: from the image's name)
  Glob pattern;       // Expect, Reply
  int ms = 0;         // Pause; Silence (0: until the client closes)
  bool on = false;    // NoEcho
  // Part of the console's own login (its prompts for the user name and the
  // password, between "console-login begin" and "end"): a console reached
  // over SSH, whose server has logged the user in, leaves it out.
  bool console_login = false;
};

// How a simulated switch's firmware misbehaves.
enum class ListingFault {
  None,
  Always,       // every version listing fails
  AfterReboot,  // the listings fail once the switch has rebooted
};

struct ScenarioOptions {
  bool echo_password = false;        // echo typed text even under "noecho on"
  int idle_ms = 25;                  // typed text without a line end counts as a line after this quiet
  int expect_timeout_ms = 60000;     // an expect with no typed line for this long stops the session
  int linger_ms = 10000;             // after the last step, wait this long for the client to close
  int silence_max_ms = 2000000;      // an open-ended silence stops after this long
  std::string opening{"\xff\xfd\x18\xff\xfb\x01\xff\xfb\x03"};  // DO TTYPE, WILL ECHO, WILL SGA
  bool image_not_taken = false;      // a reboot brings the old image back up: the new one did not take
  ListingFault listing_fails = ListingFault::None;
  int reboot_down_ms = 0;            // after a session that rebooted, the console is gone this long
};

// The firmware a scenario starts with: the running version and the
// installed one (the image the next reboot starts). Shared by every session
// of one simulated switch once it serves.
struct FirmwareStart {
  bool declared = false;
  std::string running;
  std::string installed;
  std::string used_at;  // "file:line" of the first text that shows a version, for messages
};

struct Scenario {
  std::string name;  // the file it came from
  ScenarioOptions options;
  FirmwareStart firmware;
  std::vector<Step> steps;
};

// Parses scenario text. file_name names the text in messages and is the base
// for relative include paths. On failure returns false with error set to
// "FILE:LINE: message" (the file and line where the fault stands, also inside
// an included file).
bool parse_scenario(std::string_view text, const std::string& file_name, Scenario& out,
                    std::string& error);
// Reads and parses a scenario file; failures as for parse_scenario (a file that
// cannot be read gives "FILE: message").
bool load_scenario(const std::string& path, Scenario& out, std::string& error);
// Applies one option as an "option" statement would ("image-not-taken",
// "reboot-down-ms 3000"); false with error set when it is not one.
bool apply_option(Scenario& sc, std::string_view option, std::string& error);

// Decodes the escapes of scenario text (\r \n \t \e \\ \" \* \xHH) into bytes;
// false with error set on a bad escape.
bool unescape(std::string_view in, std::string& out, std::string& error);
// Writes bytes in the escaped form that unescape reads back, keeping plain
// printable ASCII as it is: the form of transcript lines.
std::string escape(std::string_view bytes);
// The TELNET command or option byte for a name (WILL, DO, ECHO, TTYPE, ...) or
// a decimal number 0-255; -1 when the token is neither.
int telnet_byte(std::string_view token);
// The name of a TELNET command byte (240-255) or, when option is true, of an
// option byte; the decimal number when it has no name here.
std::string telnet_name(unsigned char byte, bool option);

}  // namespace switchsim
