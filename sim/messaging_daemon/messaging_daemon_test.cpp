// The simulated daemon in-process: the store as the platform's objects and
// the carrier notifications change it.
#include "sim/messaging_daemon/messaging_daemon.h"

#include <gtest/gtest.h>

#include "platform/messaging/ct_message.h"
#include "platform/messaging/ct_notifications.h"
#include "platform/messaging/ct_phone_number.h"
#include "platform/testing/notification_recorder.h"
#include "platform/testing/temporary_root.h"

namespace pelorin::sim {
namespace {

std::vector<StoredMessage> allOf(const MessageStore& store) {
  return store.page(0, UINT32_MAX, SIZE_MAX).messages;
}

std::size_t postsOf(const platform::testing::NotificationRecorder& recorder,
                    std::string_view name) {
  std::size_t count = 0;
  for (const auto& post : recorder.localPosts()) count += post.first == name;
  return count;
}

class MessagingDaemonTest : public ::testing::Test {
 protected:
  MessagingDaemonTest() { daemon_.start(); }

  StoredMessage last() { return allOf(daemon_.store()).back(); }
  std::size_t count() { return daemon_.store().page(0, 0, 0).total; }
  std::size_t posts(std::string_view name) const { return postsOf(recorder_, name); }

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

  // A message a tweak sends on its own is recorded with whom the carrier reached.
  auto own = std::make_shared<platform::CTMessage>();
  own->setMessageId(0xFFFF0001u);
  own->addRecipient(platform::CTPhoneNumber::phoneNumberWithDigits("3125550000", "1"));
  own->addText("tweak's own");
  EXPECT_TRUE(daemon_.messageCenter().sendSMS(own, false));
  EXPECT_EQ(last().messageId, 0xFFFF0001u);
  EXPECT_EQ(last().carrierRecipients, std::vector<std::string>{"3125550000"});

  EXPECT_FALSE(daemon_.sendSMS({"2125551212"}, "x", 0).value);
  EXPECT_FALSE(daemon_.sendSMS({"2125551212"}, "x", 11).value);
  EXPECT_FALSE(daemon_.sendSMS({"2125551212"}, "\xff", 1).value);
  EXPECT_EQ(count(), 2u);
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
  EXPECT_EQ(last().text, "hello");
  // Taken, the message is no longer kept by the carrier.
  EXPECT_EQ(daemon_.messageCenter().incomingMessageWithId(*id.value), nullptr);

  announce(platform::kCTMessageReceivedNotification, 0xFFFF0000);  // nobody answers for it
  EXPECT_EQ(count(), 1u);
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
  EXPECT_EQ(allOf(daemon.store()).back().state, "failed");
  // Without a phone the SMS session sends by itself.
  ASSERT_TRUE(daemon.sendChatMessage("SMS", "+12125551212", {"+12125551212"}, "hi", {}).value);
  EXPECT_EQ(allOf(daemon.store()).back().state, "sent");
  EXPECT_FALSE(allOf(daemon.store()).back().messageId);
}

TEST(MessagingDaemonRestartTest, WhatAnEarlierRunLeftSendingFailsOnce) {
  platform::testing::TemporaryRoot root;
  DaemonOptions options;
  options.databasePath = root.path(MessageStore::kDatabasePath);
  {
    platform::testing::NotificationRecorder recorder;
    // The sends never run: the process ends with both messages sending.
    MessagingDaemon daemon(options, nullptr, [](std::function<void()>) {});
    daemon.start();
    ASSERT_TRUE(daemon.sendSMS({"2125551212"}, "lost", 1).value);
    ASSERT_TRUE(daemon.sendChatMessage("iMessage", "chat", {"+13125550000"}, "lost too", {}).value);
  }
  platform::testing::NotificationRecorder recorder;
  MessagingDaemon daemon(options, nullptr);
  daemon.start();
  daemon.failInterruptedSends();
  const auto stored = allOf(daemon.store());
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].state, "failed");  // by the carrier's notification
  EXPECT_EQ(stored[1].state, "failed");  // by its session
  EXPECT_EQ(stored[1].errorCode, 4);
  EXPECT_EQ(postsOf(recorder, platform::kCTMessageSendErrorNotification), 1u);
}

}  // namespace
}  // namespace pelorin::sim
