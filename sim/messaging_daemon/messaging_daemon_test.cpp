// The simulated daemon in-process: the store as the platform's objects and
// the carrier notifications change it.
#include "sim/messaging_daemon/messaging_daemon.h"

#include <gtest/gtest.h>

#include "platform/messaging/ct_notifications.h"
#include "platform/testing/notification_recorder.h"

namespace pelorin::sim {
namespace {

class MessagingDaemonTest : public ::testing::Test {
 protected:
  MessagingDaemonTest() { daemon_.start(); }

  StoredMessage last() { return daemon_.store().all().back(); }

  std::size_t posts(std::string_view name) const {
    std::size_t count = 0;
    for (const auto& post : recorder_.localPosts()) count += post.first == name;
    return count;
  }

  void announce(std::string_view name, std::int64_t id) {
    platform::localNotifyCenter().postNotification(std::string(name),
                                                   {{std::string(platform::kCTMessageTypeKey), 1},
                                                    {std::string(platform::kCTMessageIdKey), id}});
  }

  platform::testing::NotificationRecorder recorder_;
  MessagingDaemon daemon_{DaemonOptions{}, nullptr};
};

TEST_F(MessagingDaemonTest, CarrierSendsAndNotificationsSetTheState) {
  auto id = daemon_.sendSMS({"2125551212"}, "abcdé", 2);
  ASSERT_TRUE(id.value);
  EXPECT_EQ(last().state, "sent");
  EXPECT_EQ(last().carrierRecipients, std::vector<std::string>{"2125551212"});

  announce(platform::kCTMessageSendErrorNotification, *id.value);
  EXPECT_EQ(last().state, "failed");
  announce(platform::kCTMessageSentNotification, 999);  // unknown id: nothing changes
  EXPECT_EQ(last().state, "failed");

  EXPECT_FALSE(daemon_.sendSMS({"2125551212"}, "x", 0).value);
  EXPECT_FALSE(daemon_.sendSMS({"2125551212"}, "x", 11).value);
  EXPECT_FALSE(daemon_.sendSMS({"2125551212"}, "\xff", 1).value);
  EXPECT_EQ(daemon_.store().all().size(), 1u);
}

TEST_F(MessagingDaemonTest, TheCarrierFailsMessagesWithoutARecipientItCanReach) {
  using Numbers = std::vector<std::string>;
  struct Case {
    Numbers recipients;
    std::optional<Numbers> reached;  // nothing: the send fails
  };
  const std::vector<Case> cases{
      {{}, std::nullopt},
      {{"", "abc", "+"}, std::nullopt},
      {{"1234567890123456"}, std::nullopt},  // longer than any number
      {{"12+34"}, std::nullopt},
      {{"+1 (212) 555-1212"}, Numbers{"+1 (212) 555-1212"}},
      {{"abc", "22222", "2125551212"}, Numbers{"22222", "2125551212"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.recipients));
    const auto errorsBefore = posts(platform::kCTMessageSendErrorNotification);
    const auto sentBefore = posts(platform::kCTMessageSentNotification);
    ASSERT_TRUE(daemon_.sendSMS(c.recipients, "hi", 1).value);
    EXPECT_EQ(last().state, c.reached ? "sent" : "failed");
    EXPECT_EQ(last().carrierRecipients, c.reached);
    EXPECT_EQ(posts(platform::kCTMessageSendErrorNotification) - errorsBefore, c.reached ? 0u : 1u);
    EXPECT_EQ(posts(platform::kCTMessageSentNotification) - sentBefore, c.reached ? 1u : 0u);
  }
}

TEST_F(MessagingDaemonTest, ReceivedCarrierSMSIsAskedForByItsId) {
  auto id = daemon_.deliverSMS("2125551212", "hello");
  ASSERT_TRUE(id.value);
  EXPECT_EQ(last().sender, "2125551212");
  EXPECT_EQ(last().messageId, *id.value);
  EXPECT_EQ(daemon_.messageCenter().incomingMessageWithId(*id.value)->text(), "hello");

  announce(platform::kCTMessageReceivedNotification, 0xFFFF0000);  // nobody answers for it
  EXPECT_EQ(daemon_.store().all().size(), 1u);
}

TEST_F(MessagingDaemonTest, SessionsRecordChatSendsAndConversationUpdates) {
  EXPECT_EQ(daemon_.anySessionForServiceName("Carrier Pigeon"), nullptr);
  auto guid = daemon_.sendChatMessage("iMessage", "+12125551212", {"+12125551212"}, "hi", {});
  ASSERT_TRUE(guid.value);
  EXPECT_EQ(last().state, "sent");
  EXPECT_EQ(last().service, "iMessage");

  auto session = daemon_.anySessionForServiceName("iMessage");
  auto chat = session->chatForChatIdentifier("+12125551212", '-');
  ASSERT_TRUE(chat);
  EXPECT_EQ(chat->participants().at(0)->ID(), "+12125551212");
  EXPECT_EQ(session->chatForChatIdentifier("+12125551212", '+'), nullptr);

  session->didReceiveMessageDeliveryReceiptForMessageID(*guid.value, {});
  EXPECT_EQ(last().state, "delivered");
  session->didReceiveError(4, *guid.value, true);
  EXPECT_EQ(last().state, "failed");
  EXPECT_EQ(last().errorCode, 4);

  session->didReceiveMessage(
      platform::FZMessage::initWithSender("+13125550000", {}, "yo", std::nullopt, {}, 1, 0, "G-1"),
      "+13125550000", '-');
  EXPECT_EQ(last().direction, "incoming");
  EXPECT_TRUE(session->chatForChatIdentifier("+13125550000", '-'));
}

TEST(MessagingDaemonDeviceTest, AnIPadHasNoCarrierAndOnlyItsSessions) {
  platform::testing::NotificationRecorder recorder;
  MessagingDaemon daemon(DaemonOptions{false, {"SMS"}}, nullptr);
  daemon.start();
  EXPECT_EQ(daemon.anySessionForServiceName("iMessage"), nullptr);
  EXPECT_FALSE(daemon.deliverSMS("2125551212", "hi").value);
  daemon.sendSMS({"2125551212"}, "hi", 1);
  EXPECT_EQ(daemon.store().all().back().state, "failed");
  // Without a phone the SMS session sends by itself.
  ASSERT_TRUE(daemon.sendChatMessage("SMS", "+12125551212", {"+12125551212"}, "hi", {}).value);
  EXPECT_EQ(daemon.store().all().back().state, "sent");
  EXPECT_FALSE(daemon.store().all().back().messageId);
}

}  // namespace
}  // namespace pelorin::sim
