// The replacements as the daemon reaches them: through the object runtime,
// with the process's shared objects.
#include "outgoing/quenlow_hooks.h"

#include "outgoing/outgoing_test_fixture.h"

namespace pelorin::testing {
namespace {

using platform::Dictionary;

class QuenlowHooksTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("PELORIN_GV_URL", "https://127.0.0.1:9", 1);  // nothing here reaches the service
    platform::CTMessageCenter::registerWithRuntime();
    platform::IMDServiceSession::registerWithRuntime();
    replacedAtFirst_ = QuenlowHooks::installHooks();
  }
  QuenlowHooksTest() {
    QuenlowHooks::subscribe();  // on this test's notification centres
    handler_.setEnableiMessageRules(true);
    write(kRulesFile, Dictionary{{"1212", 0}});
    handler_.readSendRules();
  }
  void write(std::string_view file, const Dictionary& contents) {
    platform::writePropertyListAtomically(resolvedPath(file), platform::Value(contents));
  }
  void post(std::string_view name) {
    platform::darwinNotifyCenter().postNotification(std::string(name));
  }

  static inline int replacedAtFirst_ = 0;
  TemporaryRoot root_;
  NotificationRecorder notifications_;
  OutgoingMessageHandler& handler_ = OutgoingMessageHandler::sharedInstance();
  AccountControllerDouble accounts_{{"SMS", "iMessage"}};
  MessageCenterDouble center_;
};

TEST_F(QuenlowHooksTest, EachMethodIsReplacedOnceAndSMSReachThePlatformOnlyByCarrier) {
  EXPECT_EQ(replacedAtFirst_, 3);
  EXPECT_EQ(QuenlowHooks::installHooks(), 0);
  center_.sendResult = false;
  auto carrier = smsMessage({"2125551212"}, {"by carrier"}, 1);
  EXPECT_FALSE(center_.sendSMS(carrier, true));  // the platform's own result
  center_.sendResult = true;
  auto otherType = smsMessage({"2125551212"}, {"mms"}, 2);
  otherType->setMessageType(2);
  EXPECT_TRUE(center_.sendSMS(otherType, false));
  // Two recipients: taken over and failed, false returned, the platform not called.
  EXPECT_FALSE(center_.sendSMS(smsMessage({"2125551212", "2125551313"}, {"two"}, 3), false));
  EXPECT_EQ(center_.sends, (decltype(center_.sends){{carrier, true}, {otherType, false}}));
  EXPECT_EQ(carrierPosts(notifications_), Calls{"SendError 3"});
}

TEST_F(QuenlowHooksTest, ChatSendsGoToThePlatformUnlessMoved) {
  auto sms = accounts_.session("SMS"), iMessage = accounts_.session("iMessage");
  iMessage->sendMessage(chatMessage("iMessage", "no chat", "G-1"), "guid", "+12125551212", '-');
  write(kRulesFile, Dictionary{{"1212", 1}});
  post(kRulesChangedNotification);
  auto chat = iMessage->addChat("+12125551212", {"+12125551212"});
  sms->addChat("+12125551212", {"+12125551212"});
  iMessage->sendMessage(chatMessage("iMessage", "moved", "G-2"), chat->guid(), "+12125551212", '-');
  EXPECT_EQ(iMessage->calls(), Calls{"send G-1 iMessage guid"});
  EXPECT_EQ(sms->calls(), Calls{"send G-2 SMS SMS;+12125551212"});
}

TEST_F(QuenlowHooksTest, IncomingLookupsServeInjectedTextsAndRewriteForwardedOnes) {
  IncomingMessageHandler::sharedInstance().processasSMS(
      {{std::string(kSMSTextMessageKey), "injected"},
       {std::string(kSMSSenderPhoneKey), "3125550000"}});
  const auto injected = center_.incomingMessageWithId(IncomingMessageHandler::kFirstInjectedId);
  ASSERT_TRUE(injected);
  EXPECT_EQ(injected->text(), "injected");
  EXPECT_EQ(injected->messageType(), platform::CTMessage::kPlainSMSType);
  auto forwarded = smsMessage({}, {"2125551212 - hi"}, 5);
  forwarded->setSender(platform::CTPhoneNumber::phoneNumberWithDigits("4155553999", "us"));
  center_.received = {{5, forwarded}, {6, smsMessage({}, {"2125551212 - hi", "more"}, 6)}};
  EXPECT_EQ(center_.incomingMessageWithId(5)->text(), "hi");
  EXPECT_EQ(forwarded->sender()->digits(), "2125551212");
  EXPECT_EQ(center_.incomingMessageWithId(6)->sender(), nullptr);  // two parts: left alone
  EXPECT_EQ(center_.incomingMessageWithId(7), nullptr);
}

TEST_F(QuenlowHooksTest, ChangesTakeEffectWithTheirNotificationsOnly) {
  auto& cache = GVInterface::sharedInstance().accessNumberCache();
  cache.setEnableAccessNumberCache(true);
  write(kRulesFile, {{"1212", -2}});
  write(kSettingsFile, {{"sendsig", "new"}});
  write(kAccessNumberCacheFile, {{"13125550000", "14155553999"}});
  center_.sendSMS(smsMessage({"2125551212"}, {"before"}, 1), false);
  EXPECT_NE(handler_.sendSignature(), "new");
  EXPECT_EQ(cache.targetNumber("14155553999"), std::nullopt);
  for (auto name :
       {kRulesChangedNotification, kSettingsNotification, kAccessNumberCacheChangedNotification}) {
    post(name);
  }
  center_.sendSMS(smsMessage({"2125551212"}, {"after"}, 2), false);
  EXPECT_EQ(center_.sends.size(), 1u);
  EXPECT_EQ(carrierPosts(notifications_), Calls{"SendError 2"});
  EXPECT_EQ(handler_.sendSignature(), "new");
  EXPECT_EQ(cache.targetNumber("14155553999"), "13125550000");
}

}  // namespace
}  // namespace pelorin::testing
