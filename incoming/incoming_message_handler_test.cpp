// The incoming handler: push parsing, the queue of injected texts and their
// ids, delivery as SMS or iMessage, and forwarded carrier SMS rewritten.
#include "incoming/incoming_message_handler.h"

#include <thread>

#include "incoming/incoming_test_support.h"
#include "voice/gv_test_fixture.h"

namespace pelorin::testing {
namespace {

constexpr std::uint32_t kFirst = IncomingMessageHandler::kFirstInjectedId;
using IncomingMessageHandlerTest = IncomingTest;

TEST_F(IncomingMessageHandlerTest, PushAlertsAreCutIntoSenderAndText) {
  recordCentre();
  const Text gv = "com.google.GVDialer";
  auto alert = [](platform::Value value) {
    return Dictionary{{"aps", Dictionary{{"alert", std::move(value)}}}};
  };
  struct Row {
    bool enabled;
    Text topic;
    std::optional<Dictionary> userInfo;
    const char* record;  // what reached the centre; none: left to the platform
  };
  const Row rows[] = {
      {true, gv, alert("Text from 2125551212:\nhello"), "2125551212: hello"},
      {true, gv, alert("Text from (212) 555-1212:\nA:\nB"), "(212) 555-1212: A:\nB"},
      {true, gv, alert("Text from word"), "10000000000: word"},
      {false, gv, alert("Text from 2125551212:\nhello"), nullptr},
      {true, "com.example.Other", alert("Text from 2125551212:\nhi"), nullptr},
      {true, std::nullopt, alert("Text from 2125551212:\nhi"), nullptr},
      {true, gv, std::nullopt, nullptr},
      {true, gv, Dictionary{{"alert", "Text from 1:\nx"}}, nullptr},
      {true, gv, Dictionary{{"aps", "Text from 1:\nx"}}, nullptr},
      {true, gv, Dictionary{{"aps", Dictionary{{"badge", 1}}}}, nullptr},
      {true, gv, alert(Dictionary{{"body", "Text from 1:\nx"}}), nullptr},
      {true, gv, alert("New Text from 2125551212:\nhi"), nullptr},
  };
  Calls expected;
  for (const auto& row : rows) {
    handler_.setEnableReceiveOfficialGV(row.enabled);
    EXPECT_EQ(handler_.handleGVPushNotification({row.topic, row.userInfo}), row.record != nullptr);
    if (row.record) expected.push_back(row.record);
    EXPECT_EQ(records(expected.size()), expected);
  }
  EXPECT_EQ(records(expected.size() + 1), expected);
  // A centre that cannot take the record leaves the push to the platform.
  auto elsewhere = platform::newInProcessMessagingCenters();  // nobody serves the name there
  IncomingDistributedMessageHandler unserved(
      elsewhere->centerNamed(std::string(kSMSRecvCenterName)));
  IncomingMessageHandler handler({&contacts_, &accessNumbers_, &autoRules_, &unserved});
  handler.setEnableReceiveOfficialGV(true);
  EXPECT_FALSE(handler.handleGVPushNotification({gv, alert("Text from 2125551212:\nhi")}));
}

TEST_F(IncomingMessageHandlerTest, InjectedTextsAreAskedForOnceByTheirOwnIds) {
  autoRules_.setEnableAutoSendRules(true);
  handler_.setRecvSignature("via GV");
  for (const auto& [text, sender] :
       std::vector<std::pair<Text, Text>>{{"lost", "2125551212"},
                                          {std::nullopt, "6465550000"},
                                          {"kept", "+1 (312) 555-0000"},
                                          {"last", "Nobody"},
                                          {std::nullopt, std::nullopt}}) {
    handler_.handleReceivedSMSforMessage("SMSReceived", record(text, sender));
  }
  // Records without a text are dropped; the others announced in order, their senders learnt.
  EXPECT_EQ(carrierPosts(recorder_),
            (Calls{"Received 4294901760", "Received 4294901761", "Received 4294901762"}));
  EXPECT_TRUE(autoRules_.recipientFound("13125550000"));
  EXPECT_FALSE(autoRules_.recipientFound("16465550000"));
  EXPECT_EQ(handler_.processIncomingMessage(kFirst - 1), nullptr);  // a carrier id
  EXPECT_EQ(handler_.processIncomingMessage(kFirst + 7), nullptr);  // never handed out
  // Never asking for the first does not shift the others.
  auto last = handler_.processIncomingMessage(kFirst + 2);
  ASSERT_TRUE(last);
  EXPECT_EQ(std::pair(last->messageId(), last->messageType()),
            std::pair(kFirst + 2, platform::CTMessage::kPlainSMSType));
  EXPECT_EQ(describe(*last), "Nobody/1: last\nvia GV");
  EXPECT_EQ(describe(*handler_.processIncomingMessage(kFirst + 1)),
            "+1 (312) 555-0000/1: kept\nvia GV");
  EXPECT_EQ(handler_.processIncomingMessage(kFirst + 1), nullptr);  // handed out once
  handler_.setRecvSignature("");
  EXPECT_EQ(handler_.processIncomingMessage(kFirst)->text(), "lost");
}

TEST_F(IncomingMessageHandlerTest, TheQueueIsBoundedAndIdsNeverLeaveTheReservedRange) {
  constexpr std::size_t kIds = 65536, kWaiting = IncomingMessageHandler::kMaxWaitingRecords;
  for (std::size_t i = 0; i <= kIds; ++i) {
    handler_.processasSMS(record("text " + std::to_string(i), "2125551212"));
  }
  const auto posts = carrierPosts(recorder_);
  ASSERT_EQ(posts.size(), kIds + 1);
  EXPECT_EQ(posts[kIds - 1], "Received 4294967295");
  EXPECT_EQ(posts[kIds], "Received 4294901760");  // round to the first reserved id, not to 0
  // Only the newest records wait; the one that reused the first id is the newest text.
  EXPECT_EQ(handler_.processIncomingMessage(kFirst)->text(), "text 65536");
  EXPECT_EQ(handler_.processIncomingMessage(0xFFFFFFFFu - kWaiting + 1), nullptr);
  EXPECT_EQ(handler_.processIncomingMessage(0xFFFFFFFFu - kWaiting + 2)->text(),
            "text " + std::to_string(kIds - kWaiting + 1));
}

// The centre's thread queues texts while the platform's thread asks for
// them, each by its own id.
TEST_F(IncomingMessageHandlerTest, ConcurrencyOfQueueingAndAsking) {
  constexpr std::uint32_t kTexts = 200;
  std::thread centre([this] {
    for (std::uint32_t i = 0; i < kTexts; ++i) {
      handler_.processasSMS(record("text " + std::to_string(i), "2125551212"));
    }
  });
  for (std::uint32_t i = 0; i < kTexts; ++i) {
    std::shared_ptr<platform::CTMessage> message;
    for (int attempt = 0; attempt < 100000 && !message; ++attempt) {
      message = handler_.processIncomingMessage(kFirst + i);
      if (!message) std::this_thread::yield();
    }
    ASSERT_TRUE(message) << i;
    EXPECT_EQ(message->text(), "text " + std::to_string(i));
  }
  centre.join();
}

TEST_F(IncomingMessageHandlerTest, WithoutAPhoneTextsArriveAsIMessagesWhenThereIsASession) {
  handler_.setIsAniPhone(false);
  handler_.setRecvSignature("sig");
  handler_.processasiMsg(record("nobody to tell", "2125551212"));
  AccountControllerDouble accounts({"iMessage"});
  handler_.handleReceivedSMSforMessage("SMSReceived", record("hello", "2125551212"));
  handler_.processasiMsg(record("hi", "Nobody Known"));
  EXPECT_EQ(accounts.session("iMessage")->calls(),
            (Calls{"received +12125551212 45 2125551212: hello\nsig",
                   "received Nobody Known 45 Nobody Known: hi\nsig"}));
  EXPECT_TRUE(recorder_.localPosts().empty());
}

// Carrier SMS that Google Voice forwards from an access number, with names
// resolved on the stand-in service's recent-texts page.
class ForwardedCarrierSMSTest : public GVServiceTest {
 protected:
  ForwardedCarrierSMSTest() { accessNumbers_.setEnableAccessNumberCache(true); }

  ContactCache contacts_{gv_};
  AccessNumberCache accessNumbers_;
  AutoRuleHandler autoRules_;
  IncomingMessageHandler handler_{{&contacts_, &accessNumbers_, &autoRules_, nullptr}};
};

TEST_F(ForwardedCarrierSMSTest, SenderAndTextAreRewrittenAsTheTableSays) {
  constexpr const char* kAccess = "14155559000";
  const std::string gv = "(415) 555-9000";  // the access number as the carrier writes it
  struct Row {
    const char* body;
    Text knownTarget;  // what the cache maps the access number to beforehand
    std::string sender, text;
    Text targetAfter;
    bool mailOrPush = false;
  };
  const Row rows[] = {
      {"2125551212 - hello there", {}, "2125551212", "hello there\nsig", "12125551212"},
      {"(312) 555-0000 - hi - again", "12125551212", "(312) 555-0000", "hi - again\nsig",
       "13125550000"},
      {"Ann O'Brien - See you", "12125551212", "12125551212", "See you\nsig", "12125551212"},
      {"Ann O'Brien - See you", {}, "+14155550101", "See you\nsig", {}},
      {"just a text", "12125551212", "12125551212", "just a text", "12125551212"},
      {"just a text", {}, gv, "just a text", {}},
      {"Nobody - hi", "12125551212", "12125551212", "Nobody - hi", "12125551212"},
      {"Nobody - hi", {}, gv, "Nobody - hi", {}},
      {"2125551212 - hello", {}, gv, "2125551212 - hello", {}, true},
  };
  handler_.setRecvSignature("sig");
  autoRules_.setEnableAutoSendRules(true);
  for (const auto& row : rows) {
    accessNumbers_.resetCache();
    if (row.knownTarget) accessNumbers_.addAccessNumber(kAccess, row.knownTarget);
    handler_.setEnableReceiveByMail(row.mailOrPush);
    service_.clearJournal();
    auto message = smsMessage({}, {row.body});
    message->setSender(platform::CTPhoneNumber::phoneNumberWithDigits(gv, "us"));
    handler_.modifyMessageifGV(*message);
    EXPECT_EQ(describe(*message), row.sender + (row.sender == gv ? "/us: " : "/1: ") + row.text);
    EXPECT_EQ(accessNumbers_.targetNumber(kAccess), row.targetAfter) << row.body;
    // Without a prefix there is no name to look up.
    if (std::string_view(row.body).find(" - ") == std::string_view::npos) {
      EXPECT_TRUE(service_.journal().empty());
    }
  }
  EXPECT_TRUE(autoRules_.recipientFound("12125551212"));  // forwarded senders become auto rules
  EXPECT_TRUE(autoRules_.recipientFound("13125550000"));
}

}  // namespace
}  // namespace pelorin::testing
