// The firmware of one simulated switch: the version it runs and the one it
// has installed (the image its next restart starts). Every session of the
// switch shares it: a download in one session shows in the listing of the
// next, and so does a reboot, unless the scenario says the new image does
// not take.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "scenario.h"

namespace switchsim {

// What a failed listing prints in place of the text that would show the
// versions: the switch's own refusal, which no family reads as a version.
inline constexpr const char* kListingFailure = "% Error: the software inventory cannot be read\r\n";

class Firmware {
 public:
  // The firmware sc declares, and the misbehaviour its options ask for.
  explicit Firmware(const Scenario& sc);

  // text with ${running} and ${installed} filled in (and ${listing}, which
  // only marks a text as part of the version listing, left out). While the
  // listing fails, a text holding any of them is the failure line instead,
  // followed by what stood after its last line end (the prompt).
  std::string fill(std::string_view text) const;
  // A download succeeded: version (empty: the one of the image named in
  // typed_line) is installed. False when there is no version to install.
  bool install(const std::string& version, std::string_view typed_line);
  // The switch restarts: it runs the installed image, or, when the image
  // does not take, the old one again (and that is installed once more).
  void reboot();
  // True once after each reboot: the console goes away for a while.
  bool take_reboot();

  std::string running() const;
  std::string installed() const;

 private:
  mutable std::mutex mutex_;
  std::string running_;
  std::string installed_;
  bool image_not_taken_;
  ListingFault listing_fails_;
  bool rebooted_ = false;        // has rebooted since it started serving
  bool reboot_pending_ = false;  // rebooted since take_reboot last said so
};

// The version an image file named in a typed line carries: the name after
// the last '/' ("copy ftp://h/fw/v9.2.bin x" gives "v9.2"), else the last
// word with a letter extension ("filename v9.2.bin"); its letter extension
// left out. "" when the line names no file.
std::string image_version(std::string_view typed_line);

}  // namespace switchsim
