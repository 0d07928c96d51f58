#include "outgoing/outgoing_message_handler.h"

#include <thread>

#include "outgoing/outgoing_test_fixture.h"

namespace pelorin::testing {
namespace {

using OutgoingMessageHandlerTest = OutgoingTest;

// The switches and traits of a chat case.
enum : int { kPhone = 1, kRules = 2, kAllSMS = 4, kCarrier = 8, kIntl = 16, kAttach = 32 };
enum : int { kEmpty = 64, kNoOther = 128 };
// How a chat message left the send hook's two questions.
enum class Outcome { Platform, Moved, GoogleVoice };

TEST_F(OutgoingMessageHandlerTest, ChatMessagesAreDecidedByDeviceServiceAndRules) {
  const std::string us = "+12125551212", uk = "+442079460123";
  const int on = kPhone | kRules | kAllSMS, gv = kPhone | kRules, pad = kRules | kAllSMS;
  const auto P = Outcome::Platform, M = Outcome::Moved, G = Outcome::GoogleVoice;
  struct Row {
    int flags;
    const char* service;
    std::vector<std::string> participants;
    Outcome outcome;
  };
  const Row rows[] = {
      {kPhone | kAllSMS, "iMessage", {us}, P},  // iMessage rules off
      {on, "iMessage", {"someone@example.com"}, P},
      {on, "iMessage", {}, P},                    // no participants
      {on, "iMessage", {us, "+16465550100"}, P},  // a rule 1 and a default 0
      {on, "iMessage", {us, "+13125550100"}, M},  // both by rule 1
      {on | kNoOther, "iMessage", {us}, G},
      {gv, "iMessage", {us}, G},
      {gv | kCarrier, "iMessage", {us}, M},
      {gv, "iMessage", {uk}, P},
      {gv | kIntl, "iMessage", {uk}, G},
      {gv | kAttach, "iMessage", {us}, P},
      {gv | kEmpty, "iMessage", {us}, P},
      {on, "SMS", {us}, P},
      {pad, "SMS", {us}, M},
      {pad | kNoOther, "SMS", {us}, P},
      {pad | kAttach, "SMS", {us}, P},
      {pad, "iMessage", {us}, G},
  };
  writeRules({{"1212", 1}, {"1312", 1}, {"01144", 1}});
  int n = 0;
  for (const auto& row : rows) {
    incoming_.setIsAniPhone(row.flags & kPhone);
    handler_.setEnableiMessageRules(row.flags & kRules);
    handler_.setAllGVasSMS(row.flags & kAllSMS);
    handler_.setGVSMSviaCarrier(row.flags & kCarrier);
    handler_.setEnableIntliMsgDorvessa(row.flags & kIntl);
    const std::string id = "chat-" + std::to_string(++n), guid = "G-" + std::to_string(n);
    const bool isSMS = std::string(row.service) == "SMS";
    const std::string otherService = isSMS ? "iMessage" : "SMS";
    auto own = isSMS ? sms_ : iMessage_, other = isSMS ? iMessage_ : sms_;
    auto chat = own->addChat(id, row.participants);
    if (!(row.flags & kNoOther)) other->addChat(id, row.participants);
    auto message = chatMessage(row.service, (row.flags & kEmpty) ? Text() : Text("hi"), guid,
                               row.flags & kAttach ? Calls{"file"} : Calls{});
    Calls ownCalls = own->calls(), otherCalls = other->calls();

    const bool taken = handler_.redirectSMStoiMessageforiPoad(message, chat) ||
                       handler_.processOutgoingiMessage(message, chat);
    EXPECT_EQ(taken, row.outcome != P) << id;
    if (row.outcome == M) {
      otherCalls.push_back("send " + guid + " " + otherService + " " + otherService + ";" + id);
    } else if (row.outcome == G) {
      // Marked sent at once; the worker then fails on the silent service.
      ownCalls.insert(ownCalls.end(), {"sent " + guid + " " + id, "error " + guid + " 4 forced"});
    }
    EXPECT_EQ(own->waitForCalls(ownCalls.size()), ownCalls) << id;
    EXPECT_EQ(other->calls(), otherCalls) << id;
    EXPECT_EQ(message->service(), row.outcome == M ? otherService : row.service);
  }
}

TEST_F(OutgoingMessageHandlerTest, AMovedSMSLetsExactlyOneLaterPassThroughWithoutRules) {
  incoming_.setIsAniPhone(false);
  handler_.setEnableiMessageRules(false);
  auto smsChat = sms_->addChat("+12125551212", {"+12125551212"});
  auto iMessageChat = iMessage_->addChat("+12125551212", {"+12125551212"});
  ASSERT_TRUE(handler_.redirectSMStoiMessageforiPoad(chatMessage("SMS", "hi", "A"), smsChat));
  EXPECT_TRUE(handler_.processOutgoingiMessage(chatMessage("iMessage", "hi", "B"), iMessageChat));
  EXPECT_FALSE(handler_.processOutgoingiMessage(chatMessage("iMessage", "hi", "C"), iMessageChat));
  EXPECT_EQ(iMessage_->waitForCalls(3), (Calls{"send A iMessage iMessage;+12125551212",
                                               "sent B +12125551212", "error B 4 forced"}));
}

TEST_F(OutgoingMessageHandlerTest, ChatIDsAreTakenOnceUnderConcurrency) {
  handler_.addChatID("chat");
  std::atomic<int> found = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] { found += handler_.testAndRemoveChatID("chat") ? 1 : 0; });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(found, 1);
  EXPECT_FALSE(handler_.testAndRemoveChatID(std::nullopt));
}

}  // namespace
}  // namespace pelorin::testing
