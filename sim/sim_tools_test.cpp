// pelorin-sim up/down, pelorinctl notify against the device it brings up,
// and the bootstrap stand-in it installs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "pelorin/version.h"
#include "platform/dynamic_library.h"
#include "platform/property_list.h"
#include "platform/rocketbootstrap.h"
#include "platform/testing/child_process.h"
#include "platform/testing/temporary_root.h"

namespace pelorin::sim {
namespace {

using namespace std::chrono_literals;
using platform::testing::ChildProcess;
using platform::testing::runProgram;

// The exports printed by "up", without their quotes.
std::map<std::string, std::string> exportsIn(const std::string& output) {
  std::map<std::string, std::string> values;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const auto equals = line.find("='");
    if (line.rfind("export ", 0) != 0 || equals == std::string::npos) continue;
    const auto end = line.find('\'', equals + 2);
    values[line.substr(7, equals - 7)] = line.substr(equals + 2, end - equals - 2);
  }
  return values;
}

class SimulatedDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string output;
    ASSERT_EQ(runProgram({PELORIN_SIM, "up", "--root", root_.folder()}, &output), 0) << output;
    env_ = exportsIn(output);
    ASSERT_EQ(env_["PELORIN_ROOT"], root_.folder());
    ASSERT_FALSE(env_["DBUS_SESSION_BUS_ADDRESS"].empty());
    ::setenv("DBUS_SESSION_BUS_ADDRESS", env_["DBUS_SESSION_BUS_ADDRESS"].c_str(), 1);
  }

  void TearDown() override {
    runProgram({PELORIN_SIM, "down", "--root", root_.folder()});
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  }

  platform::testing::TemporaryRoot root_;
  std::map<std::string, std::string> env_;
};

TEST_F(SimulatedDeviceTest, UpServesTheHostAndDownStopsIt) {
  const std::string name = "com.talvern.sim.MessagingDaemon";
  const std::vector<std::string> list{
      "busctl", "--user",       "call", name, "/com/talvern/sim/MessagingDaemon",
      name,     "ListMessages", "uu",   "0",  "0"};
  std::string output;
  EXPECT_EQ(runProgram(list, &output), 0);
  EXPECT_EQ(output,
            "s \"{\\\"items\\\":[],\\\"more\\\":false,\\\"offset\\\":0,\\\"total\\\":0}\"\n");
  EXPECT_TRUE(root_.exists("/usr/lib/librocketbootstrap.so"));
  EXPECT_NE(runProgram({PELORIN_SIM, "up", "--root", root_.folder()}), 0);  // already up

  ASSERT_EQ(runProgram({PELORIN_SIM, "down", "--root", root_.folder()}), 0);
  EXPECT_NE(runProgram(list), 0);
}

TEST_F(SimulatedDeviceTest, PelorinctlWatchesWhatPelorinctlPosts) {
  ChildProcess watcher(
      {PELORINCTL, "notify", "watch", "--count", "1", "--timeout", "20", "test.wanted"});
  // The watcher says nothing until it listens, so post until it hears.
  std::optional<std::string> heard;
  for (int attempt = 0; attempt < 50 && !heard; ++attempt) {
    ASSERT_EQ(runProgram({PELORINCTL, "notify", "post", "test.unwanted", "test.wanted"}), 0);
    heard = watcher.readLine(200ms);
  }
  EXPECT_EQ(heard, "test.wanted");
  EXPECT_EQ(watcher.waitForExit(), 0);
  EXPECT_EQ(runProgram({PELORINCTL, "notify", "watch", "--timeout", "0.2", "test.silent"}), 1);
}

// The environment of a running process, by name.
std::map<std::string, std::string> environmentOf(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/environ");
  std::map<std::string, std::string> values;
  for (std::string entry; std::getline(in, entry, '\0');) {
    const auto equals = entry.find('=');
    if (equals != std::string::npos) values[entry.substr(0, equals)] = entry.substr(equals + 1);
  }
  return values;
}

// Running, and not a zombie left for whoever adopted it.
bool running(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (pid <= 0 || !std::getline(in, stat)) return false;
  const auto close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

int pidIn(const std::string& file) {
  std::ifstream in(file);
  int pid = 0;
  in >> pid;
  return pid;
}

// A device brought up with options of pelorin-sim's own: built tweaks and
// the stand-in Google Voice service.
class SimulatedDeviceSetupTest : public ::testing::Test {
 protected:
  SimulatedDeviceSetupTest() {
    // A tweaks folder of our own: one tweak with its filter, one without.
    std::filesystem::create_directories(tweaks_);
    std::filesystem::copy_file(SIM_TEST_TWEAK, tweaks_ + "/SimTestTweak.so");
    std::filesystem::copy_file(SIM_TEST_TWEAK, tweaks_ + "/Unfiltered.so");
    platform::Dictionary filter{{"Executables", platform::Array{"imagent"}}};
    platform::writePropertyListAtomically(
        tweaks_ + "/SimTestTweak.plist", platform::Value(platform::Dictionary{{"Filter", filter}}));
    ::setenv("PELORIN_SIM_TWEAKS", tweaks_.c_str(), 1);
  }
  ~SimulatedDeviceSetupTest() override {
    runProgram({PELORIN_SIM, "down", "--root", root_.folder()});
    ::unsetenv("PELORIN_SIM_TWEAKS");
    ::unsetenv("PELORIN_GV_URL");
    std::filesystem::remove_all(tweaks_);
  }

  std::string state(const std::string& name) const {
    return root_.path("/var/run/pelorin-sim/" + name);
  }

  platform::testing::TemporaryRoot root_;
  const std::string tweaks_ = root_.folder() + "-tweaks";
};

TEST_F(SimulatedDeviceSetupTest, UpInstallsTheTweaksAndWiresTheService) {
  std::string output;
  ASSERT_EQ(runProgram({PELORIN_SIM, "up", "--root", root_.folder(), "--gv-service"}, &output), 0)
      << output;
  auto env = exportsIn(output);
  EXPECT_EQ(env["PELORIN_GV_URL"].rfind("https://127.0.0.1:", 0), 0u) << output;
  EXPECT_TRUE(std::filesystem::exists(env["PELORIN_GV_CACERT"]));

  const std::string folder = "/Library/MobileSubstrate/DynamicLibraries/";
  EXPECT_TRUE(root_.exists(folder + "SimTestTweak.so"));
  EXPECT_FALSE(root_.exists(folder + "Unfiltered.so"));  // no filter, not installed
  EXPECT_NE(root_.readFile("/var/tmp/sim-test-tweak.log").find("replaced CTMessageCenter"),
            std::string::npos);
  EXPECT_TRUE(root_.exists("/var/mobile/Library/Preferences/com.talvern.Pelorin.plist"));
  EXPECT_EQ(environmentOf(pidIn(state("host.pid")))["PELORIN_GV_CACERT"], env["PELORIN_GV_CACERT"]);

  const int service = pidIn(state("gv.pid"));
  ASSERT_TRUE(running(service));
  ASSERT_EQ(runProgram({PELORIN_SIM, "down", "--root", root_.folder()}), 0);
  EXPECT_FALSE(running(service));  // the service went down with the device
}

TEST_F(SimulatedDeviceSetupTest, NoTweaksLeavesThemOutAndTheEnvironmentIsPassedOn) {
  ::setenv("PELORIN_GV_URL", "https://127.0.0.1:9", 1);
  std::string output;
  ASSERT_EQ(runProgram({PELORIN_SIM, "up", "--root", root_.folder(), "--no-tweaks", "--no-iphone"},
                       &output),
            0)
      << output;
  EXPECT_FALSE(root_.exists("/Library/MobileSubstrate/DynamicLibraries/SimTestTweak.so"));
  EXPECT_FALSE(root_.exists("/var/mobile/Library/Preferences/com.talvern.Pelorin.plist"));
  EXPECT_EQ(exportsIn(output)["PELORIN_GV_URL"], "https://127.0.0.1:9");
  EXPECT_EQ(environmentOf(pidIn(state("host.pid")))["PELORIN_GV_URL"], "https://127.0.0.1:9");
}

// The command line as one text, arguments separated by spaces.
std::string commandLineOf(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline");
  std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::replace(line.begin(), line.end(), '\0', ' ');
  return line;
}

// Every host that shows alerts gets the device's model; what pelorin-sim
// writes is private to the user; restart starts one host again as it was.
TEST_F(SimulatedDeviceSetupTest, ModelStatePrivacyAndRestart) {
  ASSERT_EQ(
      runProgram({PELORIN_SIM, "up", "--root", root_.folder(), "--gv-service", "--model", "iPad"}),
      0);
  for (const char* host : {"springboard.pid", "messages.pid"}) {
    EXPECT_NE(commandLineOf(pidIn(state(host))).find(" --model iPad "), std::string::npos) << host;
  }
  using std::filesystem::perms;
  for (const std::string& file :
       {state("env"), state("host.log"), state("events.jsonl"), state("messages.log"),
        state("options"),
        root_.path("/var/mobile/Library/Preferences/com.talvern.Pelorin.plist")}) {
    EXPECT_EQ(std::filesystem::status(file).permissions() & perms::all,
              perms::owner_read | perms::owner_write)
        << file;
  }
  const int before = pidIn(state("messages.pid"));
  ASSERT_EQ(runProgram({PELORIN_SIM, "restart", "messages", "--root", root_.folder()}), 0);
  const int after = pidIn(state("messages.pid"));
  EXPECT_FALSE(running(before));
  EXPECT_TRUE(running(after));
  EXPECT_NE(commandLineOf(after).find(" --model iPad "), std::string::npos);
}

// Help and version print and start nothing; bad use, and a root where
// nothing runs, are refused.
TEST(PelorinSimCommandLineTest, HelpVersionAndRefusals) {
  platform::testing::TemporaryRoot root;
  const std::string absent = root.folder() + "/absent";
  struct Row {
    std::vector<std::string> arguments;
    int status;
    std::string output;
  };
  const Row rows[] = {
      {{"--help"}, 0, "usage: pelorin-sim COMMAND"},
      {{"up", "--root", absent, "--help"}, 0, "usage: pelorin-sim up"},
      {{"--version"}, 0, std::string("pelorin-sim ") + kPelorinVersion + "\n"},
      {{"bogus"}, 2, ""},
      {{"restart", "phone", "--root", root.folder()}, 2, ""},
      {{"restart", "mail", "--root", root.folder()}, 1, ""},
      {{"down", "--root", root.folder()}, 1, ""},
  };
  for (const auto& row : rows) {
    std::vector<std::string> argv{PELORIN_SIM};
    argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
    std::string output;
    EXPECT_EQ(runProgram(argv, &output), row.status) << row.arguments[0];
    EXPECT_EQ(output.substr(0, row.output.size()), row.output) << row.arguments[0];
  }
  EXPECT_FALSE(std::filesystem::exists(absent));
}

TEST(RocketBootstrapStandInTest, ExportsTheTwoFunctionsAndRecordsCalls) {
  auto* apply = platform::findLibraryFunction<platform::RocketBootstrapApply>(
      ROCKETBOOTSTRAP, std::string(platform::kRocketBootstrapApplySymbol));
  auto* unlock = platform::findLibraryFunction<platform::RocketBootstrapUnlock>(
      ROCKETBOOTSTRAP, std::string(platform::kRocketBootstrapUnlockSymbol));
  auto* calls = platform::findLibraryFunction<unsigned(const char*)>(
      ROCKETBOOTSTRAP, "pelorin_rocketbootstrap_calls");
  ASSERT_TRUE(apply && unlock && calls);
  apply(nullptr);
  EXPECT_EQ(unlock("com.talvern.PelorinSMSRecvCenter"), 0);
  EXPECT_EQ(calls("apply"), 1u);
  EXPECT_EQ(calls("unlock"), 1u);
}

}  // namespace
}  // namespace pelorin::sim
