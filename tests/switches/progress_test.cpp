// The progress an update tells its caller: every family's update played
// against its simulated console with a recording sink. The stages come in
// the frame's order, every console event belongs to the stage entered last,
// percentages never go back within a stage, the values each console prints
// are read from its lines, texts are escaped and masked, and the outcome
// comes once, last.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/iostatus.h"
#include "families.h"
#include "switches/progress.h"

namespace {

using modburn::Measure;
using modburn::ProgressKind;
using switchtest::Event;
using switchtest::FamilyRow;
using switchtest::kFamilies;
using switchtest::Recorder;

const FamilyRow& family(const char* name) {
  for (const FamilyRow& f : kFamilies) {
    if (std::strcmp(f.family, name) == 0) return f;
  }
  throw std::invalid_argument(name);
}

// One played update and what its events must show.
struct ProgressCase {
  const char* family;
  const char* scenario;  // null: the family's normal update
  int reboot;            // -1: as the normal update
  int rc;
  const char* stages;        // the stages entered, in order
  const char* measured;      // the values read from the console, in order ("kind value, ...")
  const char* outcomeStage;  // the stage the outcome names
};

const ProgressCase kCases[] = {
    {"brocade", nullptr, -1, 0, "connect logConfigInfo update reboot disconnect", "marks 10, marks 20", "reboot"},
    {"cisco", nullptr, -1, 0, "connect logConfigInfo update reboot disconnect", "marks 20", "reboot"},
    {"veltra", nullptr, -1, 0, "connect logConfigInfo update disconnect", "percent 12, percent 57, percent 100",
     "update"},
    {"intel", nullptr, -1, 0, "connect logConfigInfo update reboot disconnect", "", "reboot"},
    {"sas", nullptr, -1, 0, "connect logConfigInfo update disconnect", "bytes 1048576, percent 50", "update"},
    {"nortel", nullptr, -1, 0, "connect logConfigInfo update reboot disconnect", "bytes 5120000", "reboot"},
    {"ciscofc", nullptr, -1, 0, "connect logConfigInfo update reboot disconnect",
     "percent 100, percent 100, percent 100, percent 100, percent 100, percent 100", "reboot"},
    {"topspin", nullptr, -1, 0, "connect logConfigInfo update reboot disconnect",
     "marks 5, marks 10, marks 20, percent 48, percent 100, marks 10, marks 20", "reboot"},
    {"qlogic", nullptr, -1, 0, "connect logConfigInfo update reboot disconnect", "", "reboot"},
    {"mcdata", nullptr, -1, 0, "connect logConfigInfo update disconnect", "", "update"},
    {"ibbridge", nullptr, -1, 0, "connect logConfigInfo update reboot disconnect", "percent 50, percent 100",
     "reboot"},
    // A transfer that prints its percentages; a second attempt enters the update again.
    {"nortel", "hash-progress.scn", 0, 0, "connect logConfigInfo update disconnect",
     "percent 50, percent 100, bytes 5120000", "update"},
    {"sas", "retry-ok.scn", -1, 0, "connect logConfigInfo update update disconnect", "bytes 1048576, percent 50",
     "update"},
    // A refused login: the session is closed, the outcome names the connect.
    {"brocade", "login-incorrect.scn", -1, IO_BAD_SWITCH_LOGIN, "connect disconnect", "", "connect"},
};

std::string measured(const std::vector<Event>& events) {
  std::string out;
  for (const Event& e : events) {
    if (e.kind != ProgressKind::Percent && e.kind != ProgressKind::Bytes && e.kind != ProgressKind::Marks) continue;
    if (!out.empty()) out += ", ";
    out += std::string(modburn::progress_kind_name(e.kind)) + " " + std::to_string(e.value);
  }
  return out;
}

class UpdateProgress : public switchtest::LogCapture {
 protected:
  void SetUp() override {
    LogCapture::SetUp();
    modburn::set_time_scale(0.01);
    modburn::set_gap_scale(0.1);
  }
};

TEST_F(UpdateProgress, EveryFamilyTellsItsStagesItsConsolesProgressAndItsOutcomeLast) {
  for (const ProgressCase& c : kCases) {
    FamilyRow f = family(c.family);
    if (c.scenario != nullptr) f.scenario = c.scenario;
    if (c.reboot >= 0) f.reboot = c.reboot != 0;
    SCOPED_TRACE(std::string(c.family) + "/" + f.scenario);
    switchsim::Scenario sc;
    std::string error;
    ASSERT_TRUE(switchtest::loadNormal(f, sc, error)) << error;
    Recorder rec;
    const switchtest::Played p = switchtest::play(f, switchtest::testAddress(207), sc, {}, &rec);
    ASSERT_EQ(p.rc, c.rc) << p.err;
    switchtest::expectCleanEvents(rec, c.rc);

    std::string stages;
    std::string current;
    std::map<std::string, long long> lastPercent;
    int lines = 0;
    for (std::size_t i = 0; i < rec.events.size(); ++i) {
      const Event& e = rec.events[i];
      SCOPED_TRACE("event " + std::to_string(i) + ": " + modburn::progress_kind_name(e.kind) + " " + e.stage + " \"" +
                   e.text + "\"");
      switch (e.kind) {
        case ProgressKind::Stage:
          stages += (stages.empty() ? "" : " ") + e.stage;
          current = e.stage;
          EXPECT_EQ(e.value, -1);
          break;
        case ProgressKind::Outcome:
          EXPECT_EQ(e.value, c.rc);
          EXPECT_EQ(e.stage, c.outcomeStage);
          EXPECT_EQ(e.text, err2String(c.rc));
          break;
        case ProgressKind::Percent:
          EXPECT_GE(e.value, lastPercent[current]) << "a percentage went back";
          lastPercent[current] = e.value;
          [[fallthrough]];
        default:
          EXPECT_EQ(e.stage, current) << "console progress belongs to the stage entered last";
          if (e.kind == ProgressKind::Line && e.stage == "update") ++lines;
          EXPECT_FALSE(e.text.empty());
      }
    }
    EXPECT_EQ(stages, c.stages);
    EXPECT_EQ(measured(rec.events), c.measured);
    if (c.rc == 0) {
      EXPECT_GT(lines, 0) << "the update's console lines are told";
    }
  }
}

// A request refused before any connection: its outcome alone.
TEST_F(UpdateProgress, ARefusedRequestTellsItsOutcomeAlone) {
  Recorder rec;
  SwitchRequest req{"10.0.0.1", "admin", "pw", "tftp://10.0.0.9/fw/image.bin", false, 1, 0};
  req.progress = &rec;
  char err[1000] = "";
  ASSERT_EQ(brocadeflash(&req, err, sizeof err), IO_INV_URL_SCHEME);
  ASSERT_EQ(rec.events.size(), 1u);
  EXPECT_EQ(rec.events[0].kind, ProgressKind::Outcome);
  EXPECT_EQ(rec.events[0].value, IO_INV_URL_SCHEME);
  EXPECT_EQ(rec.events[0].stage, "");
  // Without a sink the module runs as ever.
  req.progress = nullptr;
  EXPECT_EQ(brocadeflash(&req, err, sizeof err), IO_INV_URL_SCHEME);
}

// A transfer's percentages are told, but a failure after them quotes the
// switch's own words, not a run of progress lines.
TEST_F(UpdateProgress, UnquotedProgressStaysOutOfTheErrorText) {
  const FamilyRow& f = family("nortel");
  switchsim::Scenario sc;
  std::string error;
  ASSERT_TRUE(switchsim::parse_scenario("include login.inc\n"
                                        "expect /boot/gtimg image2 10.0.0.9\n"
                                        "include ftp-questions.inc\n"
                                        "send \"Starting download...\\r\\nReceiving ### 10%\\r\\n\"\n"
                                        "send \"Receiving ###### 20%\\r\\nError: Host not found\\r\\n\"\n"
                                        "send \"\\r\\n>> Boot Options# \\x00\"\n",
                                        switchsim::scenario_path("nortel/inline.scn"), sc, error))
      << error;
  Recorder rec;
  FamilyRow once = f;
  once.reboot = false;
  const switchtest::Played p = switchtest::play(once, switchtest::testAddress(208), sc, {}, &rec);
  ASSERT_EQ(p.rc, IO_SERVER_NOT_FOUND) << p.err;
  EXPECT_EQ(measured(rec.events), "percent 10, percent 20");
  EXPECT_NE(p.err.find("Host not found"), std::string::npos) << p.err;
  EXPECT_EQ(p.err.find('%'), std::string::npos) << p.err;
}

// How a row reads the value of its line: the number before the unit, else
// the line's last number; marks counted.
TEST(ProgressValues, AreReadFromTheWholeLine) {
  const struct {
    Measure measure;
    const char* line;
    long long value;
  } rows[] = {
      {Measure::Percent, "\x1b[21;45H 12%", 12},             // a screen position is no percentage
      {Measure::Percent, "Receiving ########## 50 %", 50},   // blanks before the sign
      {Measure::Percent, "[####] 100% -- SUCCESS", 100},
      {Measure::Percent, "Percent complete: 75", 75},        // no sign: the last number
      {Measure::Percent, "% of 3 done: 40%", 40},             // the first sign with a number
      {Measure::Percent, "Percent complete", -1},
      {Measure::Percent, "% done", -1},
      {Measure::Bytes, "Image download complete (5120000 bytes)", 5120000},
      {Measure::Bytes, "Boot image (262144 bytes) download complete", 262144},
      {Measure::Bytes, "block 7: 1048576 bytes received of 2097152", 1048576},
      {Measure::Bytes, "received 2048", 2048},
      {Measure::Bytes, "99999999999999999999 bytes", -1},   // too long to be a count
      {Measure::None, "50%", -1},
      {Measure::Marks, "50%", -1},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(modburn::progress_number(r.measure, r.line), r.value) << r.line;
  }
  EXPECT_EQ(modburn::count_marks("Loading x.tar from 10.0.0.9: !!!!.!!", '!'), 6);
  EXPECT_EQ(modburn::count_marks("no marks", '!'), 0);
}

}  // namespace
