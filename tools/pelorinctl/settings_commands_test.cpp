// pelorinctl settings against the real program.
#include <gtest/gtest.h>

#include <future>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/names.h"
#include "platform/file_lock.h"
#include "platform/property_list.h"
#include "platform/session_bus.h"
#include "platform/testing/private_bus.h"
#include "platform/testing/temporary_root.h"
#include "tools/pelorinctl/pelorinctl_runner.h"

namespace pelorin {
namespace {

using ctl::testing::runPelorinctl;
using nlohmann::json;

class SettingsCommandTest : public ::testing::Test {
 protected:
  std::optional<platform::Dictionary> file() const {
    return platform::readDictionary(root_.path(std::string(kSettingsFile)));
  }
  platform::testing::TemporaryRoot root_;
};

TEST_F(SettingsCommandTest, ShowListsEveryKeyWithFileValuesOrDefaults) {
  platform::writePropertyListAtomically(
      root_.path(std::string(kSettingsFile)),
      platform::Value(platform::Dictionary{
          {"enableOmniSend", "YES"}, {"defaultSMSSend", "0"}, {"sendsig", "-- me"}}));
  const auto run = runPelorinctl("settings show --json");
  ASSERT_EQ(run.status, 0);
  std::map<std::string, json> byKey;
  std::istringstream in(run.out);
  for (std::string line; std::getline(in, line);) {
    json object = json::parse(line);
    byKey[object["key"]] = object;
  }
  EXPECT_EQ(byKey.size(), 23u);
  EXPECT_EQ(byKey["enableOmniSend"],
            json::parse(R"({"key":"enableOmniSend","type":"bool","value":true,"source":"file"})"));
  EXPECT_EQ(byKey["defaultSMSSend"]["value"], 0);
  EXPECT_EQ(byKey["monitorOptions"]["value"], 1);
  EXPECT_EQ(byKey["monitorOptions"]["source"], "default");
  EXPECT_TRUE(byKey["username"]["value"].is_null());
}

TEST_F(SettingsCommandTest, SetTypesValuesAndKeepsOtherKeys) {
  platform::writePropertyListAtomically(
      root_.path(std::string(kSettingsFile)),
      platform::Value(platform::Dictionary{{"username", "me"}, {"custom", 7}}));
  const auto run = runPelorinctl(
      "settings set --no-notify -- enableOmniSend yes defaultSMSSend 0 sendsig 'hi there' "
      "isAniPhone 0 monitorOptions 2");
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(file(), (platform::Dictionary{{"custom", 7},
                                          {"defaultSMSSend", 0},
                                          {"enableOmniSend", true},
                                          {"isAniPhone", false},
                                          {"monitorOptions", 2},
                                          {"sendsig", "hi there"},
                                          {"username", "me"}}));
}

TEST_F(SettingsCommandTest, BadInputIsRefusedAndNothingIsWritten) {
  for (const char* arguments :
       {"settings set --no-notify noSuchKey 1", "settings set --no-notify enableOmniSend maybe",
        "settings set --no-notify allGVasSMS",
        "settings set --no-notify defaultSMSSend 99999999999 sendsig ok",
        "settings set --no-notify sendsig ok defaultSMSSend 2",
        "settings set --no-notify monitorOptions -1"}) {
    SCOPED_TRACE(arguments);
    EXPECT_EQ(runPelorinctl(arguments).status, 2);
    EXPECT_FALSE(file());
  }
  // A file that is not a settings dictionary is never replaced.
  root_.writeFile(std::string(kSettingsFile), "garbage");
  EXPECT_EQ(runPelorinctl("settings set --no-notify sendsig x").status, 1);
  EXPECT_EQ(root_.readFile(std::string(kSettingsFile)), "garbage");
}

TEST_F(SettingsCommandTest, SetPostsTheSettingsNotificationUnlessAskedNotTo) {
  platform::testing::PrivateBus bus;
  ASSERT_TRUE(bus.started());
  auto center = platform::newBusDarwinNotifyCenter();
  std::atomic<int> seen = 0;
  center->addObserver(std::string(kSettingsNotification), [&](const std::string&) { ++seen; });
  ASSERT_EQ(runPelorinctl("settings set --no-notify enableLogging true").status, 0);
  ASSERT_EQ(runPelorinctl("settings set enableLogging false").status, 0);
  for (int i = 0; i < 500 && seen == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(file(), (platform::Dictionary{{"enableLogging", false}}));
}

// Another writer holds the files' locks: each command waits out the bound,
// says why it gave up and exits 1, writing nothing.
TEST_F(SettingsCommandTest, WritersGiveUpOnAHeldLockWithoutWriting) {
  const std::string settings = root_.path(std::string(kSettingsFile));
  const std::string rules = root_.path(std::string(kRulesFile));
  const platform::Dictionary keptSettings{{"recvsig", "kept"}};
  const platform::Dictionary keptRules{{"1212", 1}};
  platform::writePropertyListAtomically(settings, keptSettings);
  platform::writePropertyListAtomically(rules, keptRules);
  const auto settingsLock = platform::FileLock::acquire(settings);
  const auto rulesLock = platform::FileLock::acquire(rules);
  const std::vector<std::pair<std::string, std::string>> writers{
      {"settings set --no-notify recvsig lost",
       "settings were not changed: cannot lock " + settings},
      {"rules set 310 1", "rules were not saved: cannot lock " + rules},
      {"rules delete 212", "rules were not saved: cannot lock " + rules},
  };
  // Side by side, so that the test waits out the bound once.
  const auto started = std::chrono::steady_clock::now();
  std::vector<std::future<ctl::testing::CommandResult>> runs;
  for (const auto& [arguments, message] : writers) {
    runs.push_back(std::async(std::launch::async, [arguments = arguments] {
      return runPelorinctl(arguments + " 2>&1 >/dev/null #");  // standard error only
    }));
  }
  for (std::size_t i = 0; i < writers.size(); ++i) {
    const auto run = runs[i].get();
    EXPECT_EQ(run.status, 1) << writers[i].first;
    EXPECT_NE(run.out.find(writers[i].second), std::string::npos) << run.out;
  }
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_GE(waited, platform::kFileLockWait);
  EXPECT_LT(waited, platform::kFileLockWait + std::chrono::seconds(10));
  EXPECT_EQ(file(), keptSettings);
  EXPECT_EQ(platform::readDictionary(rules), keptRules);
}

}  // namespace
}  // namespace pelorin
