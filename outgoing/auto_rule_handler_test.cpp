#include "outgoing/auto_rule_handler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "common/names.h"
#include "platform/file_lock.h"
#include "platform/property_list.h"
#include "platform/testing/notification_recorder.h"
#include "platform/testing/temporary_root.h"

namespace pelorin {
namespace {

using platform::Array;

class AutoRuleHandlerTest : public ::testing::Test {
 protected:
  std::optional<Array> file() const { return platform::readArray(path()); }
  void writeFile(const Array& numbers) const {
    platform::writePropertyListAtomically(path(), platform::Value(numbers));
  }
  std::string path() const { return root_.path(std::string(kAutoRulesFile)); }
  long changes() const {
    const auto posts = notifications_.darwinPosts();
    return std::count(posts.begin(), posts.end(), kAutoRulesChangedNotification);
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::NotificationRecorder notifications_;
  AutoRuleHandler handler_;
};

TEST_F(AutoRuleHandlerTest, TheSetFollowsItsSwitchAndKeepsEachCanonicalNumberOnce) {
  const Array stored{"12125551212", 5, "13105551212"};
  writeFile(stored);
  // Off: nothing answered, written or announced.
  handler_.readRuleFile();
  handler_.addRecipient("(415) 555-1212");
  handler_.resetRules();
  EXPECT_FALSE(handler_.recipientFound("12125551212"));
  EXPECT_EQ(file(), stored);
  EXPECT_EQ(changes(), 0);

  handler_.setEnableAutoSendRules(true);  // the file's texts, the 5 skipped
  EXPECT_TRUE(handler_.recipientFound("13105551212"));
  EXPECT_FALSE(handler_.recipientFound(std::nullopt));
  handler_.addRecipient("+1 212 555 1212");  // known already
  handler_.addRecipient("555-1212");         // seven digits: no number for texting
  handler_.addRecipient(std::nullopt);
  EXPECT_EQ(changes(), 0);
  handler_.addRecipient("(646) 555-0100");
  handler_.addRecipient("1-646-555-0100");
  handler_.addRecipient("+44 20 7946 0123");
  EXPECT_EQ(file(), (Array{"011442079460123", "12125551212", "13105551212", "16465550100"}));
  EXPECT_TRUE(handler_.recipientFound("16465550100"));
  EXPECT_EQ(changes(), 2);

  handler_.setEnableAutoSendRules(false);  // once loaded: emptied and announced
  EXPECT_FALSE(handler_.recipientFound("16465550100"));
  EXPECT_EQ(file(), Array{});
  EXPECT_EQ(changes(), 3);

  root_.writeFile(std::string(kAutoRulesFile), "<plist><array><string>121255");  // bad: empty
  handler_.setEnableAutoSendRules(true);
  EXPECT_FALSE(handler_.recipientFound("12125551212"));
  handler_.addRecipient("2125551212");
  EXPECT_EQ(file(), Array{"12125551212"});
  writeFile({"13125550000"});
  EXPECT_FALSE(handler_.recipientFound("13125550000"));
  handler_.readRuleFile();
  EXPECT_TRUE(handler_.recipientFound("13125550000"));
}

// Two processes' handlers over one file keep each other's numbers; while
// another writer holds the file's lock a change is given up, unwritten and
// unannounced.
TEST_F(AutoRuleHandlerTest, OtherProcessesNumbersAreKeptAndAHeldLockStopsAChange) {
  const Array both{"12125551212", "13105551212"};
  AutoRuleHandler other;
  handler_.setEnableAutoSendRules(true);
  other.setEnableAutoSendRules(true);
  handler_.addRecipient("(212) 555-1212");
  other.addRecipient("(310) 555-1212");
  EXPECT_EQ(file(), both);

  platform::setFileLockWaitForTesting(std::chrono::milliseconds(50));
  {
    const auto otherWriter = platform::FileLock::acquire(path());
    handler_.addRecipient("(415) 555-1212");
    handler_.setEnableAutoSendRules(false);
  }
  platform::setFileLockWaitForTesting(std::nullopt);
  EXPECT_EQ(file(), both);
  EXPECT_EQ(changes(), 2);
}

// An addition racing the switch-on must land on top of the stored numbers,
// never write a one-entry file over them.
TEST(AutoRuleHandlerConcurrencyTest, AdditionWhileSwitchingOnKeepsStoredNumbers) {
  platform::testing::TemporaryRoot root;
  platform::testing::NotificationRecorder notifications;
  const Array stored{"12125550001", "12125550002", "12125550003"};
  for (int round = 0; round < 200; ++round) {
    root.writeFile(std::string(kAutoRulesFile),
                   platform::toXmlPropertyList(platform::Value(stored)));
    AutoRuleHandler handler;
    std::atomic<bool> go{false};
    std::thread adder([&] {
      while (!go.load()) std::this_thread::yield();
      while (!handler.enableAutoRules()) {
      }
      handler.addRecipient("(310) 555-1212");
    });
    go = true;
    handler.setEnableAutoSendRules(true);
    adder.join();
    const auto file = platform::readArray(root.path(std::string(kAutoRulesFile)));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), 4u) << "round " << round;
    EXPECT_TRUE(handler.recipientFound("12125550002"));
  }
}

}  // namespace
}  // namespace pelorin
