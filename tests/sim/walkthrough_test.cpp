// The bundled scenarios played through by a plain client that waits for a text
// and types the answer, as a switch module does: each dialogue runs to its end
// and the switch records exactly what was typed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scenario.h"
#include "sim_client.h"
#include "simulator.h"

namespace {

const char kAddress[] = "127.0.0.201";

struct Turn {
  const char* wait_for;  // text the switch must have printed (since the last turn)
  const char* type;      // then typed; null: the client closes
};

struct Walk {
  const char* scenario;
  std::vector<Turn> turns;
  bool completed;                  // the session ran every step
  std::vector<std::string> lines;  // what the switch recorded, line ends left out
};

const char kFwCmd[] = "firmwaredownload -s \"192.0.2.10\",\"ftpuser\",\"/fw/v9\",\"ftppw\"\r";
const char kArchive[] = "archive download-sw /overwrite ftp://u:p@192.0.2.10/img.tar\r\n";

const std::vector<Turn> kBrocadeLogin = {
    {"login: ", "admin\r\n"}, {"Password: ", "secret\r\n"}, {"> ", "version\r"},
    {"BootProm:", nullptr},   {"> ", "firmwareshow\r"},     {"Secondary partition:", nullptr},
};
const std::vector<Turn> kBrocadeDownload = {
    {"> ", kFwCmd},
    {"want to continue", "y\r"},
    {"install packages", nullptr},
    {"Removing ", nullptr},
    {"Finished removing", nullptr},
    {"successfully", nullptr},
};
const std::vector<Turn> kCiscoLogin = {
    {"Username: ", "admin\r\n"}, {"Password: ", "secret\r\n"},     {"sim>", "enable\r\n"},
    {"Password: ", "secret\r\n"}, {"sim#", "show version\r"},     {"--More--", " "},
    {"System image file", nullptr},
};
const std::vector<Turn> kCiscoArchive = {
    {"sim#", kArchive},         {"Loading ", nullptr},       {"extracting ", nullptr},
    {"%Warning", nullptr},      {"Installing", nullptr},     {"image installed", nullptr},
    {"sim#", "write memory\r\n"}, {"[OK]", nullptr},
};

std::vector<Turn> join(std::initializer_list<std::vector<Turn>> parts) {
  std::vector<Turn> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const std::vector<std::string> kBrocadeLines = {"admin", "secret", "version", "firmwareshow",
                                                "firmwaredownload -s \"192.0.2.10\",\"ftpuser\",\"/fw/v9\",\"ftppw\"",
                                                "y"};
const std::vector<std::string> kCiscoLines = {"admin", "secret", "enable", "secret", "show version", " ",
                                              "archive download-sw /overwrite ftp://u:p@192.0.2.10/img.tar",
                                              "write memory"};

std::vector<std::string> plus(std::vector<std::string> a, std::vector<std::string> b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(Walkthrough, BundledScenariosPlayToTheirEnd) {
  const Walk walks[] = {
      {"brocade/success.scn", join({kBrocadeLogin, kBrocadeDownload}), true, kBrocadeLines},
      {"brocade/success-reboot.scn",
       join({kBrocadeLogin, kBrocadeDownload, {{"> ", "reboot\r"}, {"The system is going down ", nullptr}}}),
       true, plus(kBrocadeLines, {"reboot"})},
      {"brocade/password-change.scn",
       {{"login: ", "admin\r\n"}, {"Password: ", "secret\r\n"}, {"change your password", "\x03"},
        {"> ", kFwCmd}, {"want to continue", "y\r"}, {"successfully", nullptr}},
       true,
       {"admin", "secret", "\x03", "firmwaredownload -s \"192.0.2.10\",\"ftpuser\",\"/fw/v9\",\"ftppw\"", "y"}},
      {"brocade/login-incorrect.scn",
       {{"login: ", "admin\r\n"}, {"Password: ", "wrong\r\n"}, {"incorrect", nullptr}},
       true, {"admin", "wrong"}},
      {"brocade/unknown-host.scn",
       join({kBrocadeLogin, {{"> ", kFwCmd}, {"ping: unknown host", nullptr}, {"Firmwaredownload failed", nullptr}}}),
       true, {"admin", "secret", "version", "firmwareshow", kBrocadeLines[4]}},
      {"brocade/reboot-silence.scn", join({kBrocadeLogin, kBrocadeDownload, {{"> ", "reboot\r"}}}),
       true, plus(kBrocadeLines, {"reboot"})},
      // A client that types something else stops the session.
      {"brocade/success.scn", {{"login: ", "admin\r\n"}, {"Password: ", "secret\r\n"}, {"> ", "reload\r"}},
       false, {"admin", "secret", "reload"}},
      {"cisco/success.scn", join({kCiscoLogin, kCiscoArchive}), true, kCiscoLines},
      {"cisco/success-reboot.scn",
       join({kCiscoLogin, kCiscoArchive, {{"sim#", "reload\r\n"}, {"[confirm]", "\r"}, {"Reloading", nullptr}}}),
       true, plus(kCiscoLines, {"reload", ""})},
      {"cisco/password-first.scn",
       {{"Password: ", "secret\r\n"}, {"sim>", "enable\r\n"}, {"Password: ", "secret\r\n"}, {"sim#", kArchive},
        {"image installed", nullptr}, {"sim#", "write memory\r\n"}, {"[OK]", nullptr}},
       true, {"secret", "enable", "secret", kCiscoLines[6], "write memory"}},
      {"cisco/greets-user-prompt.scn",
       {{"sim>", "enable\r\n"}, {"Username: ", "admin\r\n"}, {"Password: ", "secret\r\n"}, {"sim#", kArchive},
        {"image installed", nullptr}, {"sim#", "write memory\r\n"}, {"[OK]", nullptr}},
       true, {"enable", "admin", "secret", kCiscoLines[6], "write memory"}},
      {"cisco/enable-no-password.scn",
       {{"Username: ", "admin\r\n"}, {"Password: ", "secret\r\n"}, {"sim>", "enable\r\n"}, {"sim#", kArchive},
        {"image installed", nullptr}, {"sim#", "write memory\r\n"}, {"[OK]", nullptr}},
       true, {"admin", "secret", "enable", kCiscoLines[6], "write memory"}},
      {"cisco/timed-out-after-loading.scn",
       {{"Username: ", "admin\r\n"}, {"Password: ", "secret\r\n"}, {"sim>", "enable\r\n"},
        {"Password: ", "secret\r\n"}, {"sim#", kArchive}, {"Loading ", nullptr}, {"(Timed out)", "exit\r"},
        {"sim#", nullptr}},
       true, {"admin", "secret", "enable", "secret", kCiscoLines[6], "exit"}},
      {"cisco/enable-bad-password.scn",
       {{"Username: ", "admin\r\n"}, {"Password: ", "secret\r\n"}, {"sim>", "enable\r\n"},
        {"Password: ", "secret\r\n"}, {"Password: ", nullptr}},
       true, {"admin", "secret", "enable", "secret"}},
  };
  for (const auto& walk : walks) {
    SCOPED_TRACE(walk.scenario);
    switchsim::SimulatedSwitch sim;
    std::string error;
    ASSERT_TRUE(sim.start_file(kAddress, 0, switchsim::scenario_path(walk.scenario), {}, &error)) << error;
    RawClient client;
    ASSERT_TRUE(client.connect(kAddress, sim.port()));
    for (const Turn& turn : walk.turns) {
      std::string got = client.read_until(turn.wait_for);
      ASSERT_NE(got.find(turn.wait_for), std::string::npos) << "waiting for " << turn.wait_for << " got " << got;
      client.drop_through(turn.wait_for);
      if (turn.type) client.send(turn.type);
    }
    client.read_for(50);
    client.close();
    switchsim::SessionResult r = sim.wait();
    EXPECT_EQ(r.completed, walk.completed) << r.stopped_at << ": " << r.outcome;
    EXPECT_EQ(r.lines(), walk.lines);
  }
}

TEST(Walkthrough, PasswordsAreNotEchoedUnlessAsked) {
  for (bool echo_password : {false, true}) {
    switchsim::SimulatedSwitch sim;
    switchsim::SimOptions opts;
    opts.echo_password = echo_password;
    std::string error;
    ASSERT_TRUE(sim.start_file(kAddress, 0, switchsim::scenario_path("cisco/success.scn"), opts, &error)) << error;
    RawClient client;
    ASSERT_TRUE(client.connect(kAddress, sim.port()));
    client.read_until("Username: ");
    client.send("admin\r\n");
    client.read_until("Password: ");
    client.send("Pa55word\r\n");
    client.read_until("sim>");
    client.send("enable\r\n");
    client.read_until("Password: ");
    client.send("Pa55word\r\n");
    const std::string& got = client.read_until("sim#");
    EXPECT_NE(got.find("admin\r\n"), std::string::npos);
    EXPECT_NE(got.find("enable\r\n"), std::string::npos);
    EXPECT_EQ(got.find("Pa55word") != std::string::npos, echo_password) << got;
  }
}
