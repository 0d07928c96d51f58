#include "toggle/dorvessa_switch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/names.h"
#include "platform/file_lock.h"
#include "platform/property_list.h"
#include "platform/testing/notification_recorder.h"
#include "platform/testing/temporary_root.h"

namespace pelorin {
namespace {

using platform::Dictionary;
using platform::FSSwitchStateIndeterminate;
using platform::FSSwitchStateOff;
using platform::FSSwitchStateOn;
using platform::Value;

// Every identifier must read and write the same key.
const std::vector<std::string> kIdentifiers{"com.talvern.dorvessa", "", "com.example.other"};

class DorvessaSwitchTest : public ::testing::Test {
 protected:
  std::string settingsPath() const { return root_.path(std::string(kSettingsFile)); }

  void writeSettings(const Dictionary& settings) {
    ASSERT_TRUE(platform::writePropertyListAtomically(settingsPath(), Value(settings)));
  }

  std::optional<Dictionary> settings() const { return platform::readDictionary(settingsPath()); }

  void expectState(platform::FSSwitchState expected) {
    for (const auto& identifier : kIdentifiers)
      EXPECT_EQ(switch_.stateForSwitchIdentifier(identifier), expected) << '"' << identifier << '"';
  }

  std::vector<std::string> settingsPosts(std::size_t count) const {
    return std::vector<std::string>(count, std::string(kSettingsNotification));
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::NotificationRecorder recorder_;
  DorvessaSwitch switch_;
};

TEST_F(DorvessaSwitchTest, NoFileReadsOffAndSwitchingCreatesNothingButStillPosts) {
  expectState(FSSwitchStateOff);
  for (const auto& identifier : kIdentifiers) {
    switch_.applyState(FSSwitchStateOn, identifier);
    switch_.applyState(FSSwitchStateOff, identifier);
  }
  EXPECT_FALSE(std::filesystem::exists(settingsPath()));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(settingsPath()).parent_path()));
  EXPECT_EQ(recorder_.darwinPosts(), settingsPosts(2 * kIdentifiers.size()));
}

TEST_F(DorvessaSwitchTest, StateIsTheBooleanReadingOfTheKey) {
  const std::vector<std::pair<Value, platform::FSSwitchState>> cases{
      {true, FSSwitchStateOn}, {1, FSSwitchStateOn},      {"YES", FSSwitchStateOn},
      {"0", FSSwitchStateOff}, {"abc", FSSwitchStateOff}, {Dictionary{}, FSSwitchStateOff}};
  for (const auto& [stored, expected] : cases) {
    SCOPED_TRACE(stored.description());
    writeSettings({{std::string(settings::kEnableOmniSend), stored}});
    expectState(expected);
  }
  EXPECT_TRUE(recorder_.darwinPosts().empty());
}

// The key is added or changed; everything else comes back as it was read,
// whether the file was XML or binary.
TEST_F(DorvessaSwitchTest, SwitchingSetsTheKeyAndKeepsEveryOtherValue) {
  const Dictionary xml{{"username", "alice@example.com"},
                       {"defaultSMSSend", 2},
                       {"evalSendRules", false},
                       {"sendsig", " \xE2\x80\x93 sent via GV"},
                       {"nested", Dictionary{{"list", platform::Array{"a", 1, 0.5}}}}};
  std::ifstream binaryFile(BINARY_SETTINGS, std::ios::binary);
  const std::string binary{std::istreambuf_iterator<char>(binaryFile), {}};
  ASSERT_EQ(binary.rfind("bplist00", 0), 0u);

  for (const bool isBinary : {false, true}) {
    SCOPED_TRACE(isBinary ? "binary" : "XML");
    recorder_.clear();
    if (isBinary)
      root_.writeFile(std::string(kSettingsFile), binary);
    else
      writeSettings(xml);
    const auto original = settings();
    ASSERT_TRUE(original);
    ASSERT_EQ(original->count(std::string(settings::kEnableOmniSend)), 0u);
    if (isBinary) {
      EXPECT_EQ(original->at("when"), Value(platform::Date{100}));
    }
    expectState(FSSwitchStateOff);

    auto expected = *original;
    const std::vector<std::pair<platform::FSSwitchState, bool>> steps{
        {FSSwitchStateOn, true}, {FSSwitchStateOff, false}, {2, true}, {FSSwitchStateOff, false}};
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const auto [state, stored] = steps[i];
      switch_.applyState(state, kIdentifiers[i % kIdentifiers.size()]);
      expected[std::string(settings::kEnableOmniSend)] = stored;
      EXPECT_EQ(settings(), expected) << "after applying " << state;
      expectState(stored ? FSSwitchStateOn : FSSwitchStateOff);
    }
    EXPECT_EQ(recorder_.darwinPosts(), settingsPosts(steps.size()));
  }
}

TEST_F(DorvessaSwitchTest, IndeterminateChangesNothingAndPostsNothing) {
  writeSettings({{std::string(settings::kEnableOmniSend), true}, {"username", "alice"}});
  const std::string before = root_.readFile(std::string(kSettingsFile));
  for (const auto& identifier : kIdentifiers)
    switch_.applyState(FSSwitchStateIndeterminate, identifier);
  EXPECT_EQ(root_.readFile(std::string(kSettingsFile)), before);
  EXPECT_TRUE(recorder_.darwinPosts().empty());
}

// A file that cannot be read as a dictionary reads as off and is never
// replaced: writing back would lose whatever it holds.
TEST_F(DorvessaSwitchTest, UnreadableFileReadsOffAndIsLeftAlone) {
  const std::string arrayRoot = platform::toXmlPropertyList(Value(platform::Array{"a"}));
  const std::vector<std::pair<std::string, std::string>> files{
      {"garbage", "not a property list"},
      {"truncated", arrayRoot.substr(0, arrayRoot.size() / 2)},
      {"array root", arrayRoot}};
  for (const auto& [what, bytes] : files) {
    SCOPED_TRACE(what);
    recorder_.clear();
    root_.writeFile(std::string(kSettingsFile), bytes);
    expectState(FSSwitchStateOff);
    switch_.applyState(FSSwitchStateOn, kIdentifiers[0]);
    EXPECT_EQ(root_.readFile(std::string(kSettingsFile)), bytes);
    EXPECT_EQ(recorder_.darwinPosts(), settingsPosts(1));
  }

  std::filesystem::remove(settingsPath());
  std::filesystem::create_directory(settingsPath());
  expectState(FSSwitchStateOff);
  switch_.applyState(FSSwitchStateOn, kIdentifiers[0]);
  EXPECT_TRUE(std::filesystem::is_directory(settingsPath()));
}

// Another writer holds the settings file's lock: the switch gives up within
// the bound and reads unchanged; once the lock is free it switches.
TEST_F(DorvessaSwitchTest, HeldLockLeavesTheSwitchUnchanged) {
  writeSettings({{std::string(settings::kEnableOmniSend), false}, {"username", "alice"}});
  platform::setFileLockWaitForTesting(std::chrono::milliseconds(50));
  {
    const auto otherWriter = platform::FileLock::acquire(settingsPath());
    switch_.applyState(FSSwitchStateOn, kIdentifiers[0]);
    expectState(FSSwitchStateOff);
  }
  switch_.applyState(FSSwitchStateOn, kIdentifiers[0]);
  expectState(FSSwitchStateOn);
  platform::setFileLockWaitForTesting(std::nullopt);
}

}  // namespace
}  // namespace pelorin
