// The replacements as the daemon reaches them: through the object runtime,
// with the process's shared handler.
#include "outgoing/quenlow_hooks.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "common/names.h"
#include "outgoing/messaging_fakes.h"
#include "outgoing/outgoing_message_handler.h"
#include "platform/property_list.h"
#include "platform/testing/notification_recorder.h"
#include "platform/testing/temporary_root.h"

namespace pelorin::testing {
namespace {

using platform::CTMessageCenter;
using platform::IMDServiceSession;

class QuenlowHooksTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // No test here routes through Google Voice; should one, it meets a closed port.
    setenv("PELORIN_GV_URL", "https://127.0.0.1:9", 1);
    CTMessageCenter::registerWithRuntime();
    IMDServiceSession::registerWithRuntime();
    replacedAtFirst_ = QuenlowHooks::installHooks();
  }

  QuenlowHooksTest() {
    sms_ = accounts_.addSession("SMS");
    iMessage_ = accounts_.addSession("iMessage");
    auto& handler = OutgoingMessageHandler::sharedInstance();
    handler.setEnableOmniDorvessa(false);
    handler.setEnableSendRules(true);
    handler.setAllGVasSMS(true);
    handler.setEnableiMessageRules(true);
    writeRules({{"1212", 0}});
  }

  void writeRules(const platform::Dictionary& rules) {
    platform::writePropertyListAtomically(resolvedPath(kRulesFile), platform::Value(rules));
    OutgoingMessageHandler::sharedInstance().readSendRules();
  }

  static int replacedAtFirst_;
  platform::testing::TemporaryRoot root_;
  platform::testing::NotificationRecorder notifications_;
  FakeAccountController accounts_;
  std::shared_ptr<FakeSession> sms_;
  std::shared_ptr<FakeSession> iMessage_;
  FakeMessageCenter center_;
};

int QuenlowHooksTest::replacedAtFirst_ = 0;

TEST_F(QuenlowHooksTest, EachMethodIsReplacedOnce) {
  EXPECT_EQ(replacedAtFirst_, 3);
  EXPECT_EQ(QuenlowHooks::installHooks(), 0);
}

TEST_F(QuenlowHooksTest, SMSSendCallsThePlatformOnlyWhenLeftToTheCarrier) {
  center_.sendResult = false;
  auto carrier = outgoingSMS({"2125551212"}, "by carrier", 1);
  EXPECT_FALSE(center_.sendSMS(carrier, true));  // the platform's own result
  ASSERT_EQ(center_.sends.size(), 1u);
  EXPECT_EQ(center_.sends[0].message, carrier);
  EXPECT_TRUE(center_.sends[0].moreToFollow);

  center_.sendResult = true;
  auto otherType = outgoingSMS({"2125551212"}, "mms", 2);
  otherType->setMessageType(2);
  EXPECT_TRUE(center_.sendSMS(otherType, false));
  EXPECT_EQ(center_.sends.size(), 2u);
  EXPECT_TRUE(notifications_.localPosts().empty());

  // Two recipients: taken over and failed, zero returned, the platform never called.
  auto twoRecipients = outgoingSMS({"2125551212", "2125551313"}, "two", 3);
  EXPECT_FALSE(center_.sendSMS(twoRecipients, false));
  EXPECT_EQ(center_.sends.size(), 2u);
  const auto posts = notifications_.localPosts();
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].first, kCTMessageSendErrorNotification);
  EXPECT_EQ(posts[0].second.at(std::string(kCTMessageIdKey)), platform::Value(3));
}

TEST_F(QuenlowHooksTest, ChatSendWithoutAChatGoesToThePlatformUnchanged) {
  auto message = chatMessage("iMessage", "hi", {}, "G-1");
  iMessage_->sendMessage(message, "guid", "+12125551212", platform::IMDChat::kOneToOneStyle);
  const auto calls = iMessage_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].what, "send");
  EXPECT_EQ(calls[0].detail, "iMessage guid");
}

TEST_F(QuenlowHooksTest, AniMessageMovedToSMSIsSentOnceBySMS) {
  writeRules({{"1212", 1}});
  auto chat = iMessage_->addChat("+12125551212", {"+12125551212"});
  sms_->addChat("+12125551212", {"+12125551212"});
  auto message = chatMessage("iMessage", "moved", {}, "G-2");
  iMessage_->sendMessage(message, chat->guid(), "+12125551212", chat->style());
  EXPECT_TRUE(iMessage_->calls().empty());
  const auto calls = sms_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].what, "send");
  EXPECT_EQ(calls[0].detail, "SMS SMS;+12125551212");
}

TEST_F(QuenlowHooksTest, RulesChangeTakesEffectOnlyWithItsNotification) {
  QuenlowHooks::subscribe();
  // The rules file now fails the number, but nobody said so.
  platform::writePropertyListAtomically(resolvedPath(kRulesFile),
                                        platform::Value(platform::Dictionary{{"1212", -2}}));
  center_.sendSMS(outgoingSMS({"2125551212"}, "before", 1), false);
  EXPECT_EQ(center_.sends.size(), 1u);
  platform::darwinNotifyCenter().postNotification(std::string(kRulesChangedNotification));
  center_.sendSMS(outgoingSMS({"2125551212"}, "after", 2), false);
  EXPECT_EQ(center_.sends.size(), 1u);
  ASSERT_EQ(notifications_.localPosts().size(), 1u);
  EXPECT_EQ(notifications_.localPosts()[0].first, kCTMessageSendErrorNotification);
}

TEST_F(QuenlowHooksTest, SettingsNotificationReadsTheSettingsAgain) {
  QuenlowHooks::subscribe();
  platform::writePropertyListAtomically(resolvedPath(kSettingsFile),
                                        platform::Value(platform::Dictionary{{"sendsig", "new"}}));
  EXPECT_NE(OutgoingMessageHandler::sharedInstance().sendSignature(), "new");
  platform::darwinNotifyCenter().postNotification(std::string(kSettingsNotification));
  EXPECT_EQ(OutgoingMessageHandler::sharedInstance().sendSignature(), "new");
}

}  // namespace
}  // namespace pelorin::testing
