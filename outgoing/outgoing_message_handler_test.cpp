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

// The switches and message traits of a chat case.
enum : int {
  kPhone = 1,
  kRules = 2,
  kAllSMS = 4,
  kCarrier = 8,
  kIntl = 16,
  kAttach = 32,
  kEmpty = 64,
  kNoOther = 128
};

struct ChatCase {
  const char* name;
  int flags;
  const char* service;
  std::vector<std::string> participants;
  Outcome outcome;
};

TEST_F(OutgoingMessageHandlerTest, ChatMessagesAreDecidedByDeviceServiceAndRules) {
  const std::string us = "+12125551212";
  const std::string uk = "+442079460123";
  const int on = kPhone | kRules | kAllSMS;
  const int gv = kPhone | kRules;
  const std::vector<ChatCase> cases = {
      {"iMessage rules off", kPhone | kAllSMS, "iMessage", {us}, Outcome::Platform},
      {"an address stays an iMessage", on, "iMessage", {"someone@example.com"}, Outcome::Platform},
      {"a rule 1 and a default 0 differ", on, "iMessage", {us, "+16465550100"}, Outcome::Platform},
      {"all as SMS with the SMS chat", on, "iMessage", {us}, Outcome::MovedToSMS},
      {"all as SMS without the SMS chat", on | kNoOther, "iMessage", {us}, Outcome::GoogleVoice},
      {"neither switch: Google Voice", gv, "iMessage", {us}, Outcome::GoogleVoice},
      {"via carrier moves to SMS", gv | kCarrier, "iMessage", {us}, Outcome::MovedToSMS},
      {"international while off", gv, "iMessage", {uk}, Outcome::Platform},
      {"international while on", gv | kIntl, "iMessage", {uk}, Outcome::GoogleVoice},
      {"an attachment is never touched", gv | kAttach, "iMessage", {us}, Outcome::Platform},
      {"an empty message is never touched", gv | kEmpty, "iMessage", {us}, Outcome::Platform},
      {"an SMS on an iPhone", on, "SMS", {us}, Outcome::Platform},
      {"an SMS without a phone moves", kRules | kAllSMS, "SMS", {us}, Outcome::MovedToiMessage},
      {"an SMS without a phone or iMessage chat",
       kRules | kAllSMS | kNoOther,
       "SMS",
       {us},
       Outcome::Platform},
      {"an iMessage without a phone", kRules | kAllSMS, "iMessage", {us}, Outcome::GoogleVoice},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    incoming_.setIsAniPhone(c.flags & kPhone);
    handler().setEnableiMessageRules(c.flags & kRules);
    handler().setAllGVasSMS(c.flags & kAllSMS);
    handler().setGVSMSviaCarrier(c.flags & kCarrier);
    handler().setEnableIntliMsgDorvessa(c.flags & kIntl);
    writeRules({{"1212", 1}, {"01144", 1}});

    const std::string identifier = "chat-" + std::to_string(++n);
    const bool isSMS = std::string(c.service) == "SMS";
    auto own = isSMS ? sms_ : iMessage_;
    auto other = isSMS ? iMessage_ : sms_;
    auto chat = own->addChat(identifier, c.participants);
    if (!(c.flags & kNoOther)) other->addChat(identifier, c.participants);
    const std::string guid = "GUID-" + std::to_string(n);
    auto message = chatMessage(
        c.service, (c.flags & kEmpty) ? Text() : Text("hi"),
        (c.flags & kAttach) ? std::vector<std::string>{"file"} : std::vector<std::string>{}, guid);
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
