// pelorin-sim up/down, pelorinctl notify against the device it brings up,
// and the bootstrap stand-in it installs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "platform/dynamic_library.h"
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
  const std::vector<std::string> list{"busctl",
                                      "--user",
                                      "call",
                                      "com.talvern.sim.MessagingDaemon",
                                      "/com/talvern/sim/MessagingDaemon",
                                      "com.talvern.sim.MessagingDaemon",
                                      "ListMessages"};
  std::string output;
  EXPECT_EQ(runProgram(list, &output), 0);
  EXPECT_EQ(output, "s \"[]\"\n");
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

  std::string output;
  EXPECT_EQ(runProgram({PELORINCTL, "notify", "watch", "--timeout", "0.2", "test.silent"}, &output),
            1);
  EXPECT_EQ(output, "");
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
  EXPECT_EQ(platform::findLibraryFunction(ROCKETBOOTSTRAP, "no_such_symbol"), nullptr);
  EXPECT_EQ(platform::findLibraryFunction("/no/such/library.so", "rocketbootstrap_unlock"),
            nullptr);
}

}  // namespace
}  // namespace pelorin::sim
