#include "firmware.h"

#include <cctype>

namespace switchsim {

namespace {

constexpr std::string_view kRunning = "${running}";
constexpr std::string_view kInstalled = "${installed}";
constexpr std::string_view kListing = "${listing}";

bool file_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-' || c == '+';
}

// The extension after the last dot when it is letters only ("bin"), else "".
std::string_view letter_extension(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return {};
  const std::string_view ext = name.substr(dot + 1);
  for (char c : ext) {
    if (!std::isalpha(static_cast<unsigned char>(c))) return {};
  }
  return ext;
}

// The run of file name characters that starts at from.
std::string_view run_at(std::string_view line, size_t from) {
  size_t end = from;
  while (end < line.size() && file_char(line[end])) ++end;
  return line.substr(from, end - from);
}

void replace_all(std::string& text, std::string_view field, const std::string& value) {
  for (size_t at = text.find(field); at != std::string::npos; at = text.find(field, at + value.size())) {
    text.replace(at, field.size(), value);
  }
}

}  // namespace

std::string image_version(std::string_view line) {
  std::string_view name;
  if (const size_t slash = line.rfind('/'); slash != std::string_view::npos) name = run_at(line, slash + 1);
  if (name.empty()) {
    // No path, or one that ends in a folder: the last word that looks like a file.
    for (size_t i = 0; i < line.size();) {
      const std::string_view run = run_at(line, i);
      if (run.empty()) {
        ++i;
        continue;
      }
      if (!letter_extension(run).empty()) name = run;
      i += run.size();
    }
  }
  const std::string_view ext = letter_extension(name);
  return std::string(ext.empty() ? name : name.substr(0, name.size() - ext.size() - 1));
}

Firmware::Firmware(const Scenario& sc)
    : running_(sc.firmware.running),
      installed_(sc.firmware.installed),
      image_not_taken_(sc.options.image_not_taken),
      listing_fails_(sc.options.listing_fails) {}

std::string Firmware::fill(std::string_view text) const {
  if (text.find("${") == std::string_view::npos) return std::string(text);
  std::lock_guard<std::mutex> lock(mutex_);
  const bool fails = listing_fails_ == ListingFault::Always ||
                     (listing_fails_ == ListingFault::AfterReboot && rebooted_);
  if (fails) {
    // The prompt after the listing's last line end still comes.
    const size_t nl = text.rfind('\n');
    return kListingFailure + std::string(nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1));
  }
  std::string out(text);
  replace_all(out, kRunning, running_);
  replace_all(out, kInstalled, installed_);
  replace_all(out, kListing, "");
  return out;
}

bool Firmware::install(const std::string& version, std::string_view typed_line) {
  const std::string v = version.empty() ? image_version(typed_line) : version;
  if (v.empty()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  installed_ = v;
  return true;
}

void Firmware::reboot() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (image_not_taken_) {
    installed_ = running_;
  } else {
    running_ = installed_;
  }
  rebooted_ = true;
  reboot_pending_ = true;
}

bool Firmware::take_reboot() {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool pending = reboot_pending_;
  reboot_pending_ = false;
  return pending;
}

std::string Firmware::running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

std::string Firmware::installed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return installed_;
}

}  // namespace switchsim
