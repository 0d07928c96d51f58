#include "outgoing/outgoing_message_handler.h"

#include <gtest/gtest.h>

#include "outgoing/outgoing_test_fixture.h"

namespace pelorin::testing {
namespace {

using Source = OutgoingMessageHandler::RuleDecision::Source;

class OutgoingMessageHandlerTest : public OutgoingTest {
 protected:
  OutgoingMessageHandlerTest() {
    sms_ = accounts_.addSession("SMS");
    iMessage_ = accounts_.addSession("iMessage");
  }

  FakeAccountController accounts_;
  std::shared_ptr<FakeSession> sms_;
  std::shared_ptr<FakeSession> iMessage_;
};

TEST_F(OutgoingMessageHandlerTest, RuleEvaluationOrder) {
  writeRules({{"1212", 0}, {"1310", 1}, {"1415", -1}});
  writeAutoRules({"12125551212", "16465550100", "14155550100"});
  struct Row {
    const char* name;
    bool omni;
    bool rules;
    const char* number;
    SendMode defaultMode;
    SendMode mode;
    Source source;
    Text key;
  };
  const std::vector<Row> rows = {
      {"omni-send first", true, false, "12125551212", 0, 1, Source::OmniSend, std::nullopt},
      {"rules off: the default", false, false, "12125551212", 0, 0, Source::RulesOff, std::nullopt},
      {"a carrier rule beats the automatic set", false, true, "12125551212", 1, 0, Source::SendRule,
       "1212"},
      {"a Google Voice rule", false, true, "13105551212", 0, 1, Source::SendRule, "1310"},
      {"a rule holding -1 counts as none", false, true, "14155550100", 0, 1, Source::AutoRule,
       std::nullopt},
      {"the automatic set", false, true, "16465550100", 0, 1, Source::AutoRule, std::nullopt},
      {"nothing: the default", false, true, "17185550100", 0, 0, Source::Default, std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    handler().setEnableOmniDorvessa(row.omni);
    handler().setEnableSendRules(row.rules);
    OutgoingMessageHandler::RuleDecision decision;
    EXPECT_EQ(handler().sendModebyRules(row.number, row.defaultMode, &decision), row.mode);
    EXPECT_EQ(decision.source, row.source);
    EXPECT_EQ(decision.ruleKey, row.key);
  }
}

// How the chat send hook's two questions left a chat message.
enum class Outcome { Platform, MovedToSMS, MovedToiMessage, GoogleVoice };

struct ChatCase {
  const char* name;
  bool iPhone;
  bool iMessageRules;
  bool allGVasSMS;
  bool viaCarrier;
  bool intl;
  const char* service;
  std::vector<std::string> participants;
  Text text;
  bool attachment;
  bool otherSessionHasChat;
  Outcome outcome;
};

TEST_F(OutgoingMessageHandlerTest, ChatMessagesAreDecidedByDeviceServiceAndRules) {
  const std::string us = "+12125551212";
  const std::string mail = "someone@example.com";
  const std::vector<ChatCase> cases = {
      {"iMessage rules off",
       true,
       false,
       true,
       false,
       false,
       "iMessage",
       {us},
       "hi",
       false,
       true,
       Outcome::Platform},
      {"an address stays an iMessage",
       true,
       true,
       true,
       false,
       false,
       "iMessage",
       {mail},
       "hi",
       false,
       true,
       Outcome::Platform},
      {"a rule 1 and a default 0 differ",
       true,
       true,
       true,
       false,
       false,
       "iMessage",
       {us, "+16465550100"},
       "hi",
       false,
       true,
       Outcome::Platform},
      {"all as SMS with the SMS chat",
       true,
       true,
       true,
       false,
       false,
       "iMessage",
       {us},
       "hi",
       false,
       true,
       Outcome::MovedToSMS},
      {"all as SMS without the SMS chat",
       true,
       true,
       true,
       false,
       false,
       "iMessage",
       {us},
       "hi",
       false,
       false,
       Outcome::GoogleVoice},
      {"neither switch: Google Voice",
       true,
       true,
       false,
       false,
       false,
       "iMessage",
       {us},
       "hi",
       false,
       true,
       Outcome::GoogleVoice},
      {"via carrier moves to SMS",
       true,
       true,
       false,
       true,
       false,
       "iMessage",
       {us},
       "hi",
       false,
       true,
       Outcome::MovedToSMS},
      {"international while off",
       true,
       true,
       false,
       false,
       false,
       "iMessage",
       {"+442079460123"},
       "hi",
       false,
       true,
       Outcome::Platform},
      {"international while on",
       true,
       true,
       false,
       false,
       true,
       "iMessage",
       {"+442079460123"},
       "hi",
       false,
       true,
       Outcome::GoogleVoice},
      {"an attachment is never touched",
       true,
       true,
       false,
       false,
       false,
       "iMessage",
       {us},
       "hi",
       true,
       true,
       Outcome::Platform},
      {"an empty message is never touched",
       true,
       true,
       false,
       false,
       false,
       "iMessage",
       {us},
       std::nullopt,
       false,
       true,
       Outcome::Platform},
      {"an SMS on an iPhone",
       true,
       true,
       true,
       false,
       false,
       "SMS",
       {us},
       "hi",
       false,
       true,
       Outcome::Platform},
      {"an SMS without a phone moves to iMessage",
       false,
       true,
       true,
       false,
       false,
       "SMS",
       {us},
       "hi",
       false,
       true,
       Outcome::MovedToiMessage},
      {"an SMS without a phone and no iMessage chat",
       false,
       true,
       true,
       false,
       false,
       "SMS",
       {us},
       "hi",
       false,
       false,
       Outcome::Platform},
      {"an iMessage without a phone defaults to Google Voice",
       false,
       true,
       true,
       false,
       false,
       "iMessage",
       {us},
       "hi",
       false,
       true,
       Outcome::GoogleVoice},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    incoming_.setIsAniPhone(c.iPhone);
    handler().setEnableiMessageRules(c.iMessageRules);
    handler().setAllGVasSMS(c.allGVasSMS);
    handler().setGVSMSviaCarrier(c.viaCarrier);
    handler().setEnableIntliMsgDorvessa(c.intl);
    writeRules({{"1212", 1}, {"01144", 1}});

    const std::string identifier = "chat-" + std::to_string(++n);
    const bool isSMS = std::string(c.service) == "SMS";
    auto own = isSMS ? sms_ : iMessage_;
    auto other = isSMS ? iMessage_ : sms_;
    auto chat = own->addChat(identifier, c.participants);
    if (c.otherSessionHasChat) other->addChat(identifier, c.participants);
    const std::string guid = "GUID-" + std::to_string(n);
    auto message = chatMessage(
        c.service, c.text,
        c.attachment ? std::vector<std::string>{"file"} : std::vector<std::string>{}, guid);
    const std::size_t ownBefore = own->calls().size();
    const std::size_t otherBefore = other->calls().size();

    const bool moved = handler().redirectSMStoiMessageforiPoad(message, chat);
    const bool taken = moved || handler().processOutgoingiMessage(message, chat);

    EXPECT_EQ(taken, c.outcome != Outcome::Platform);
    const auto ownCalls =
        own->waitForCalls(ownBefore + (c.outcome == Outcome::GoogleVoice ? 2 : 0));
    const auto otherCalls = other->calls();
    switch (c.outcome) {
      case Outcome::Platform:
        EXPECT_EQ(ownCalls.size(), ownBefore);
        EXPECT_EQ(otherCalls.size(), otherBefore);
        break;
      case Outcome::MovedToSMS:
      case Outcome::MovedToiMessage:
        ASSERT_EQ(otherCalls.size(), otherBefore + 1);
        EXPECT_EQ(otherCalls.back().what, "send");
        EXPECT_EQ(otherCalls.back().detail, std::string(isSMS ? "iMessage " : "SMS ") +
                                                (isSMS ? "iMessage;" : "SMS;") + identifier);
        EXPECT_EQ(message->service(), isSMS ? "iMessage" : "SMS");
        EXPECT_EQ(ownCalls.size(), ownBefore);
        break;
      case Outcome::GoogleVoice:
        // Marked sent at once; the worker then reports (the address refuses: an error).
        ASSERT_EQ(ownCalls.size(), ownBefore + 2);
        EXPECT_EQ(ownCalls[ownBefore].what, "sent");
        EXPECT_EQ(ownCalls[ownBefore].guid, guid);
        EXPECT_EQ(ownCalls[ownBefore + 1].what, "error");
        EXPECT_EQ(otherCalls.size(), otherBefore);
        break;
    }
  }
}

TEST_F(OutgoingMessageHandlerTest, AMovedSMSLetsExactlyOneLaterPassThroughWithoutRules) {
  incoming_.setIsAniPhone(false);
  handler().setEnableiMessageRules(false);
  auto smsChat = sms_->addChat("+12125551212", {"+12125551212"});
  auto iMessageChat = iMessage_->addChat("+12125551212", {"+12125551212"});

  ASSERT_TRUE(handler().redirectSMStoiMessageforiPoad(chatMessage("SMS", "hi", {}, "A"), smsChat));
  // The first pass after the move goes through Google Voice without rules.
  EXPECT_TRUE(
      handler().processOutgoingiMessage(chatMessage("iMessage", "hi", {}, "B"), iMessageChat));
  iMessage_->waitForCalls(2);
  // The next is evaluated: iMessage rules are off, the platform sends it.
  EXPECT_FALSE(
      handler().processOutgoingiMessage(chatMessage("iMessage", "hi", {}, "C"), iMessageChat));
  EXPECT_FALSE(handler().testAndRemoveChatID("+12125551212"));
}

TEST_F(OutgoingMessageHandlerTest, ChatIDsAreTakenOnceUnderConcurrency) {
  handler().addChatID("chat");
  std::atomic<int> found = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] { found += handler().testAndRemoveChatID("chat") ? 1 : 0; });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(found, 1);
}

}  // namespace
}  // namespace pelorin::testing
