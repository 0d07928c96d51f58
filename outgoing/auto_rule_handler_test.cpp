#include "outgoing/auto_rule_handler.h"

#include <gtest/gtest.h>

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
using platform::Value;

class AutoRuleHandlerTest : public ::testing::Test {
 protected:
  std::optional<Array> fileContents() const {
    return platform::readArray(root_.path(std::string(kAutoRulesFile)));
  }
  std::size_t postsOfChange() const {
    std::size_t count = 0;
    for (const auto& name : notifications_.darwinPosts())
      count += name == kAutoRulesChangedNotification;
    return count;
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::NotificationRecorder notifications_;
  AutoRuleHandler handler_;
};

TEST_F(AutoRuleHandlerTest, DisabledHandlerAnswersNothingAndWritesNothing) {
  root_.writeFile(std::string(kAutoRulesFile),
                  platform::toXmlPropertyList(Value(Array{"12125551212"})));
  handler_.readRuleFile();
  handler_.addRecipient("(310) 555-1212");
  handler_.resetRules();
  EXPECT_FALSE(handler_.recipientFound("12125551212"));
  EXPECT_EQ(fileContents(), (Array{"12125551212"}));
  EXPECT_TRUE(notifications_.darwinPosts().empty());
}

TEST_F(AutoRuleHandlerTest, SenderIsStoredOnceInCanonicalForm) {
  handler_.setEnableAutoSendRules(true);
  EXPECT_FALSE(fileContents());  // created by the first addition

  handler_.addRecipient("(212) 555-1212");
  EXPECT_TRUE(handler_.recipientFound("12125551212"));
  EXPECT_EQ(fileContents(), (Array{"12125551212"}));
  EXPECT_EQ(postsOfChange(), 1u);

  handler_.addRecipient("+1 212 555 1212");
  handler_.addRecipient("1-212-555-1212");
  EXPECT_EQ(postsOfChange(), 1u);

  handler_.addRecipient("555-1212");  // seven digits: not a number for texting
  handler_.addRecipient(std::nullopt);
  handler_.addRecipient("+44 20 7946 0123");
  EXPECT_EQ(fileContents(), (Array{"011442079460123", "12125551212"}));
  EXPECT_EQ(postsOfChange(), 2u);
}

TEST_F(AutoRuleHandlerTest, TurningOffAfterLoadingErasesTheRules) {
  root_.writeFile(std::string(kAutoRulesFile),
                  platform::toXmlPropertyList(Value(Array{"12125551212", 5, "13105551212"})));
  handler_.setEnableAutoSendRules(true);
  EXPECT_TRUE(handler_.recipientFound("13105551212"));
  EXPECT_EQ(postsOfChange(), 0u);

  handler_.setEnableAutoSendRules(false);
  EXPECT_FALSE(handler_.recipientFound("13105551212"));
  EXPECT_EQ(fileContents(), Array{});
  EXPECT_EQ(postsOfChange(), 1u);

  handler_.setEnableAutoSendRules(true);
  EXPECT_FALSE(handler_.recipientFound("12125551212"));
}

TEST_F(AutoRuleHandlerTest, BadFileReadsAsAnEmptySet) {
  root_.writeFile(std::string(kAutoRulesFile), "<plist><array><string>121255");
  handler_.setEnableAutoSendRules(true);
  EXPECT_FALSE(handler_.recipientFound("12125551212"));
  handler_.addRecipient("2125551212");
  EXPECT_EQ(fileContents(), (Array{"12125551212"}));
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
  EXPECT_EQ(fileContents(), both);

  platform::setFileLockWaitForTesting(std::chrono::milliseconds(50));
  {
    const auto otherWriter = platform::FileLock::acquire(root_.path(std::string(kAutoRulesFile)));
    handler_.addRecipient("(415) 555-1212");
    handler_.setEnableAutoSendRules(false);
  }
  platform::setFileLockWaitForTesting(std::nullopt);
  EXPECT_EQ(fileContents(), both);
  EXPECT_EQ(postsOfChange(), 2u);
}

// An addition racing the switch-on must land on top of the stored numbers,
// never write a one-entry file over them.
TEST(AutoRuleHandlerConcurrencyTest, AdditionWhileSwitchingOnKeepsStoredNumbers) {
  platform::testing::TemporaryRoot root;
  platform::testing::NotificationRecorder notifications;
  const Array stored{"12125550001", "12125550002", "12125550003"};
  for (int round = 0; round < 200; ++round) {
    root.writeFile(std::string(kAutoRulesFile), platform::toXmlPropertyList(Value(stored)));
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
