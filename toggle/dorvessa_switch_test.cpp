// The switch: its state read from the settings file, and each switch written back into it.
#include "toggle/dorvessa_switch.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/names.h"
#include "platform/file_lock.h"
#include "platform/property_list.h"
#include "platform/testing/notification_recorder.h"
#include "platform/testing/temporary_root.h"

namespace pelorin {
namespace {

using platform::Dictionary;
using platform::FSSwitchStateOff;
using platform::FSSwitchStateOn;

const std::string kKey(settings::kEnableOmniSend);

const auto xml = [](const Dictionary& d) { return platform::toXmlPropertyList(d); };

// Each row's file is read for the state, then switched: to indeterminate
// (nothing written, nothing posted), to on by another state than On, off and
// on. A file that reads as a dictionary gets the key and keeps every other
// value; a missing file is not created and one that cannot be read is left
// as it is. Every switch but the indeterminate one posts. Then another writer
// holds the file's lock: the switch gives up within the bound and reads
// unchanged; once the lock is free it switches.
TEST(DorvessaSwitchTest, StateIsTheKeyAndSwitchingWritesOnlyTheKey) {
  platform::testing::TemporaryRoot root;
  platform::testing::NotificationRecorder recorder;
  DorvessaSwitch toggle;
  const std::string path = root.path(std::string(kSettingsFile));
  const std::pair<std::optional<std::string>, platform::FSSwitchState> rows[] = {
      {std::nullopt, FSSwitchStateOff},  // no file
      {xml({{kKey, true}}), FSSwitchStateOn},
      {xml({{kKey, "0"}}), FSSwitchStateOff},
      {xml({{"username", "alice"}, {"nested", Dictionary{{"n", 0.5}}}}), FSSwitchStateOff},
      {"not a property list", FSSwitchStateOff},
      {platform::toXmlPropertyList(platform::Array{"a"}), FSSwitchStateOff},
  };
  const auto folder = std::filesystem::path(path).parent_path();
  for (const auto& [bytes, state] : rows) {
    SCOPED_TRACE(bytes ? bytes->substr(0, 60) : "(no file)");
    std::filesystem::remove_all(folder);
    if (bytes) root.writeFile(std::string(kSettingsFile), *bytes);
    const auto original = platform::readDictionary(path);
    EXPECT_EQ(toggle.stateForSwitchIdentifier("com.talvern.dorvessa"), state);
    recorder.clear();
    toggle.applyState(platform::FSSwitchStateIndeterminate, "");
    EXPECT_TRUE(recorder.darwinPosts().empty());
    for (const platform::FSSwitchState next : {2, FSSwitchStateOff, FSSwitchStateOn}) {
      toggle.applyState(next, "com.talvern.dorvessa");
      if (original) {
        auto expected = *original;
        expected[kKey] = next != FSSwitchStateOff;
        EXPECT_EQ(platform::readDictionary(path), expected) << next;
      } else {
        EXPECT_EQ(root.readFile(std::string(kSettingsFile)), bytes.value_or("")) << next;
      }
      EXPECT_EQ(toggle.stateForSwitchIdentifier(""),
                original && next != FSSwitchStateOff ? FSSwitchStateOn : FSSwitchStateOff);
    }
    EXPECT_EQ(std::filesystem::exists(folder), bytes.has_value());
    EXPECT_EQ(recorder.darwinPosts(),
              std::vector<std::string>(3, std::string(kSettingsNotification)));
  }

  root.writeFile(std::string(kSettingsFile), xml({{kKey, false}, {"username", "alice"}}));
  platform::setFileLockWaitForTesting(std::chrono::milliseconds(50));
  {
    const auto otherWriter = platform::FileLock::acquire(root.path(std::string(kSettingsFile)));
    toggle.applyState(FSSwitchStateOn, "");
    EXPECT_EQ(toggle.stateForSwitchIdentifier(""), FSSwitchStateOff);
  }
  toggle.applyState(FSSwitchStateOn, "");
  EXPECT_EQ(toggle.stateForSwitchIdentifier(""), FSSwitchStateOn);
  platform::setFileLockWaitForTesting(std::nullopt);
}

}  // namespace
}  // namespace pelorin
