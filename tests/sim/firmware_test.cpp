// The simulated firmware: its statements and options, the version an image's
// name carries, what a listing shows as downloads and restarts move the
// versions, and one switch's sessions sharing them, its console gone for a
// while after a restart.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "firmware.h"
#include "scenario.h"
#include "sim_client.h"
#include "simulator.h"

using switchsim::Firmware;
using switchsim::ListingFault;
using switchsim::Scenario;
using switchsim::StepKind;

namespace {

Scenario parse(const std::string& text) {
  Scenario sc;
  std::string error;
  EXPECT_TRUE(switchsim::parse_scenario(text, "t.scn", sc, error)) << error;
  return sc;
}

TEST(FirmwareParse, StatementsAndOptions) {
  const Scenario sc = parse(
      "firmware v1.0 v0.9\noption image-not-taken\noption listing-fails after-reboot\noption reboot-down-ms 300\n"
      "send \"Version ${running} (next ${installed})${listing}\\r\\n\"\ninstall\ninstall v2.0\nreboot\n");
  EXPECT_TRUE(sc.firmware.declared);
  EXPECT_EQ(sc.firmware.running, "v1.0");
  EXPECT_EQ(sc.firmware.installed, "v0.9");
  EXPECT_TRUE(sc.options.image_not_taken);
  EXPECT_EQ(sc.options.listing_fails, ListingFault::AfterReboot);
  EXPECT_EQ(sc.options.reboot_down_ms, 300);
  ASSERT_EQ(sc.steps.size(), 4u);
  EXPECT_EQ(sc.steps[1].kind, StepKind::Install);
  EXPECT_EQ(sc.steps[1].text, "");
  EXPECT_EQ(sc.steps[2].text, "v2.0");
  EXPECT_EQ(sc.steps[3].kind, StepKind::Reboot);
  // One version is both; a later declaration replaces an earlier one.
  const Scenario again = parse("firmware v1.0\nfirmware v3.0\noption listing-fails\n");
  EXPECT_EQ(again.firmware.running, "v3.0");
  EXPECT_EQ(again.firmware.installed, "v3.0");
  EXPECT_EQ(again.options.listing_fails, ListingFault::Always);

  const struct {
    const char* text;
    const char* error;
  } errors[] = {
      {"firmware\n", "t.scn:1: firmware needs the running version"},
      {"firmware a b c\n", "t.scn:1: firmware takes two versions at most"},
      {"reboot now\n", "t.scn:1: reboot takes nothing"},
      {"option image-not-taken yes\n", "t.scn:1: option image-not-taken takes no value"},
      {"option listing-fails sometimes\n", "t.scn:1: option listing-fails takes nothing or 'after-reboot'"},
      {"option reboot-down-ms soon\n", "t.scn:1: 'soon' is not a number of milliseconds"},
      {"firmware v1\nsend \"${runing}\"\n",
       "t.scn:2: unknown field '${runing}' (fields: ${running}, ${installed}, ${listing}, ${user})"},
      {"send a\nreply v => \"${running}\"\n",
       "t.scn:2: a text shows a firmware version, but the scenario declares none ('firmware RUNNING')"},
  };
  for (const auto& row : errors) {
    Scenario sc2;
    std::string error;
    EXPECT_FALSE(switchsim::parse_scenario(row.text, "t.scn", sc2, error)) << row.text;
    EXPECT_EQ(error, row.error);
  }
  // The program's --option: as if the scenario ended with the statement.
  Scenario patched = parse("send a\n");
  std::string error;
  EXPECT_TRUE(switchsim::apply_option(patched, "reboot-down-ms 40", error)) << error;
  EXPECT_EQ(patched.options.reboot_down_ms, 40);
  EXPECT_FALSE(switchsim::apply_option(patched, "colour blue", error));
  EXPECT_EQ(error, "--option:1: unknown option 'colour'");
}

TEST(FirmwareImage, TheVersionAnImageNameCarries) {
  const struct {
    const char* line;
    const char* version;
  } rows[] = {
      {"firmwaredownload -s \"10.0.0.9\",\"fw\",\"fos/v9.2.1.bin\",\"Pw.x\"", "v9.2.1"},
      {"archive download-sw /overwrite tftp://10.0.0.9/ios/c3750-12.2.img", "c3750-12.2"},
      {"fw/image.bin", "image"},
      {"filename v3.4.hex", "v3.4"},
      {"fwUpdate 10.0.0.9 fwuser Ftp-9ass fw image.bin", "image"},
      {"install all kickstart bootflash:k-3.3.1a.bin system bootflash:s-3.3.2.bin", "s-3.3.2"},
      {"copy tftp://10.0.0.9/fw/a.bin bootflash:b.bin", "a"},  // the path's file, not the copy's name
      {"firmwaredownload -s \"h\",\"u\",\"/fw/v9\",\"p\"", "v9"},      // a file without extension
      {"tftp 10.0.0.9 v9.2.1", ""},                               // no path, no letter extension
      {"path fw/", ""},
      {"y", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(switchsim::image_version(row.line), row.version) << row.line;
}

// What a listing shows as the firmware moves, step by step.
TEST(FirmwareState, ListingsFollowDownloadsAndRestarts) {
  const std::string listing = "Running ${running}\r\nNext ${installed}${listing}\r\nsw> ";
  const struct {
    const char* what;
    const char* options;
    // After each of: the start, install from "fw/v2.bin", reboot, install "v3", reboot.
    std::vector<std::string> shown;
  } rows[] = {
      {"taken",
       "",
       {"Running v1\r\nNext v1\r\nsw> ", "Running v1\r\nNext v2\r\nsw> ", "Running v2\r\nNext v2\r\nsw> ",
        "Running v2\r\nNext v3\r\nsw> ", "Running v3\r\nNext v3\r\nsw> "}},
      {"not taken",
       "option image-not-taken\n",
       {"Running v1\r\nNext v1\r\nsw> ", "Running v1\r\nNext v2\r\nsw> ", "Running v1\r\nNext v1\r\nsw> ",
        "Running v1\r\nNext v3\r\nsw> ", "Running v1\r\nNext v1\r\nsw> "}},
      {"listing fails",
       "option listing-fails\n",
       std::vector<std::string>(5, std::string(switchsim::kListingFailure) + "sw> ")},
      {"listing fails after a restart",
       "option listing-fails after-reboot\n",
       {"Running v1\r\nNext v1\r\nsw> ", "Running v1\r\nNext v2\r\nsw> ",
        std::string(switchsim::kListingFailure) + "sw> ", std::string(switchsim::kListingFailure) + "sw> ",
        std::string(switchsim::kListingFailure) + "sw> "}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Firmware fw(parse(std::string("firmware v1\n") + row.options));
    std::vector<std::string> shown = {fw.fill(listing)};
    EXPECT_TRUE(fw.install("", "copy ftp://h/fw/v2.bin x"));
    shown.push_back(fw.fill(listing));
    fw.reboot();
    shown.push_back(fw.fill(listing));
    EXPECT_TRUE(fw.install("v3", ""));
    shown.push_back(fw.fill(listing));
    fw.reboot();
    shown.push_back(fw.fill(listing));
    EXPECT_EQ(shown, row.shown);
    EXPECT_EQ(fw.fill("no fields\r\n"), "no fields\r\n");
    EXPECT_FALSE(fw.install("", "y")) << "no image named";
  }
}

const char kAddress[] = "127.0.0.201";

// Plays one session: lists, then downloads the image named and restarts the
// switch when asked; returns what the listing showed ("refused": no console).
std::string session(uint16_t port, const char* download) {
  RawClient c;
  if (!c.connect(kAddress, port)) return "refused";
  c.read_until("> ");
  c.clear();
  c.send("list\r");
  c.read_until("> ", 3000);
  c.drop_through("list");
  std::string listed = c.got();
  listed = listed.substr(0, listed.find("> "));
  if (download != nullptr) {
    c.clear();
    c.send(std::string(download) + "\r");
    c.read_until("done");
    c.send("restart\r");
    c.wait_eof();
  }
  return listed;
}

// One switch serves three sessions: the second downloads and restarts, after
// which the console refuses connections for a while (from the end of that
// session, which drains the client's last bytes for half a second); the
// third lists the new version. With the image not taken, the third lists
// the old one.
TEST(FirmwareServe, SessionsShareTheFirmwareAndTheConsoleIsGoneAfterARestart) {
  for (const bool taken : {true, false}) {
    SCOPED_TRACE(taken ? "taken" : "not taken");
    Scenario sc = parse(std::string(taken ? "" : "option image-not-taken\n") +
                        "firmware v1\noption opening none\noption reboot-down-ms 1000\noption linger-ms 50\n"
                        "reply list => \"Software ${running}\\r\\n> \"\n"
                        "send \"> \"\nexpect download *\ninstall\nsend \"done\\r\\n\"\nexpect restart\nreboot\nclose\n");
    std::mutex mutex;
    std::vector<std::string> notes;
    switchsim::SimOptions opts;
    opts.sessions = 3;
    opts.accept_timeout_ms = 5000;
    opts.transcript = [&](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex);
      for (const char* kept : {"= install", "= reboot", "= console"}) {
        if (line.rfind(kept, 0) == 0) notes.push_back(line);
      }
    };
    switchsim::SimulatedSwitch sim;
    std::string error;
    ASSERT_TRUE(sim.start(kAddress, 0, sc, opts, &error)) << error;
    const uint16_t port = sim.port();
    EXPECT_EQ(session(port, nullptr), "\r\nSoftware v1\r\n");
    EXPECT_EQ(session(port, "download tftp://10.0.0.9/fw/v2.bin"), "\r\nSoftware v1\r\n");
    const auto restarted = std::chrono::steady_clock::now();
    RawClient().read_for(700);
    EXPECT_EQ(session(port, nullptr), "refused") << "the console is down while the switch restarts";
    std::string third;
    while ((third = session(port, nullptr)) == "refused" &&
           std::chrono::steady_clock::now() - restarted < std::chrono::seconds(5)) {
      RawClient().read_for(20);
    }
    EXPECT_EQ(third, taken ? "\r\nSoftware v2\r\n" : "\r\nSoftware v1\r\n");
    const std::vector<switchsim::SessionResult> all = sim.wait_all();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_FALSE(all[0].completed);
    EXPECT_TRUE(all[1].completed);
    EXPECT_FALSE(all[2].completed);
    std::lock_guard<std::mutex> lock(mutex);
    const std::vector<std::string> expected = {"= install v2", taken ? "= reboot: running v2" : "= reboot: running v1",
                                               "= console down for 1000 ms (reboot)", "= console back"};
    EXPECT_EQ(notes, expected);
  }
}

}  // namespace
