// The incoming handler without the network: push parsing, the queue of
// injected texts and their ids, and delivery as SMS or iMessage.
#include "incoming/incoming_message_handler.h"

#include <gtest/gtest.h>

#include <thread>

#include "common/logger.h"
#include "common/names.h"
#include "incoming/contact_cache.h"
#include "incoming/incoming_distributed_message_handler.h"
#include "incoming/incoming_test_support.h"
#include "outgoing/auto_rule_handler.h"
#include "platform/clock.h"
#include "platform/messaging_center.h"
#include "platform/run_loop.h"
#include "platform/testing/notification_recorder.h"
#include "platform/testing/temporary_root.h"
#include "voice/access_number_cache.h"
#include "voice/gv_interface.h"
#include "voice/gv_test_fixture.h"

namespace pelorin {
namespace {

using namespace std::chrono_literals;
using platform::Dictionary;

constexpr std::uint32_t kFirst = IncomingMessageHandler::kFirstInjectedId;

Dictionary record(const std::string& text, const std::string& sender) {
  return {{std::string(kSMSTextMessageKey), text}, {std::string(kSMSSenderPhoneKey), sender}};
}

class IncomingMessageHandlerTest : public ::testing::Test {
 protected:
  IncomingMessageHandlerTest() {
    server_->runServerOnCurrentThread();
    server_->registerForMessageName(
        std::string(kSMSReceivedMessageName),
        [this](const std::string&, const Dictionary& info) { delivered_.push_back(info); });
  }
  // The ids announced with the received notification, in order.
  std::vector<std::int64_t> announcedIds() const {
    std::vector<std::int64_t> ids;
    for (const auto& [name, info] : recorder_.localPosts()) {
      if (name != kCTMessageReceivedNotification) continue;
      EXPECT_EQ(info.at(std::string(kCTMessageTypeKey)).integerReading(), 1);
      ids.push_back(info.at(std::string(kCTMessageIdKey)).integerReading());
    }
    return ids;
  }

  // Records the client sent to the centre, once the server's loop ran.
  std::vector<Dictionary> centreRecords(std::size_t expected) {
    platform::RunLoop::current()->runUntil([&] { return delivered_.size() >= expected; }, 2s);
    return delivered_;
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::NotificationRecorder recorder_;
  std::unique_ptr<platform::MessagingCenterProvider> centres_ =
      platform::newInProcessMessagingCenters();
  // Installed before the centres below are made from it.
  struct Installed {
    explicit Installed(platform::MessagingCenterProvider* p) { platform::setMessagingCenters(p); }
    ~Installed() { platform::setMessagingCenters(nullptr); }
  } installed_{centres_.get()};
  std::shared_ptr<platform::CPDistributedMessagingCenter> server_ =
      platform::CPDistributedMessagingCenter::centerNamed(std::string(kSMSRecvCenterName));
  std::vector<Dictionary> delivered_;
  IncomingDistributedMessageHandler client_{
      platform::CPDistributedMessagingCenter::centerNamed(std::string(kSMSRecvCenterName))};
  // Nothing here resolves names: the service is unreachable.
  GVInterface voice_{"https://127.0.0.1:1"};
  ContactCache contacts_{voice_};
  AccessNumberCache accessNumbers_;
  AutoRuleHandler autoRules_;
  IncomingMessageHandler handler_{{&contacts_, &accessNumbers_, &autoRules_, &client_}};
};

TEST_F(IncomingMessageHandlerTest, PushAlertsAreCutIntoSenderAndText) {
  struct Case {
    std::string label;
    bool enabled;
    Text topic;
    std::optional<Dictionary> userInfo;
    bool forwarded;
    std::string sender;
    std::string text;
  };
  const Text gv = "com.google.GVDialer";
  auto alert = [](platform::Value value) {
    return Dictionary{{"aps", Dictionary{{"alert", std::move(value)}}}};
  };
  const std::vector<Case> cases{
      {"number", true, gv, alert("Text from 2125551212:\nhello"), true, "2125551212", "hello"},
      {"only the first separator splits", true, gv, alert("Text from (212) 555-1212:\nA:\nB"), true,
       "(212) 555-1212", "A:\nB"},
      {"no separator", true, gv, alert("Text from word"), true, "10000000000", "word"},
      {"mode off", false, gv, alert("Text from 2125551212:\nhello"), false, "", ""},
      {"other topic", true, "com.example.Other", alert("Text from 2125551212:\nhi"), false, "", ""},
      {"no topic", true, std::nullopt, alert("Text from 2125551212:\nhi"), false, "", ""},
      {"no user info", true, gv, std::nullopt, false, "", ""},
      {"no aps", true, gv, Dictionary{{"alert", "Text from 1:\nx"}}, false, "", ""},
      {"aps not a dictionary", true, gv, Dictionary{{"aps", "Text from 1:\nx"}}, false, "", ""},
      {"no alert", true, gv, Dictionary{{"aps", Dictionary{{"badge", 1}}}}, false, "", ""},
      {"structured alert", true, gv, alert(Dictionary{{"body", "Text from 1:\nx"}}), false, "", ""},
      {"prefix later in the alert", true, gv, alert("New Text from 2125551212:\nhi"), false, "",
       ""},
  };
  Logger::sharedInstance().setEnableLogging(true);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    delivered_.clear();
    handler_.setEnableReceiveOfficialGV(c.enabled);
    EXPECT_EQ(handler_.handleGVPushNotification({c.topic, c.userInfo}), c.forwarded);
    auto records = centreRecords(c.forwarded ? 1 : 0);
    if (!c.forwarded) {
      EXPECT_TRUE(records.empty());
      continue;
    }
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], record(c.text, c.sender));
  }
  Logger::sharedInstance().setEnableLogging(false);
  // The alert is logged as it came, neither quoted nor escaped.
  EXPECT_NE(root_.readFile(std::string(kLogFile))
                .find("Push alert received\nText from (212) 555-1212:\nA:\nB\n"),
            std::string::npos);
}

TEST_F(IncomingMessageHandlerTest, PushIsLeftToThePlatformWhenTheCentreCannotTakeIt) {
  auto elsewhere = platform::newInProcessMessagingCenters();  // nobody serves the name there
  IncomingDistributedMessageHandler unserved(
      elsewhere->centerNamed(std::string(kSMSRecvCenterName)));
  IncomingMessageHandler handler({&contacts_, &accessNumbers_, &autoRules_, &unserved});
  handler.setEnableReceiveOfficialGV(true);
  Dictionary userInfo{{"aps", Dictionary{{"alert", "Text from 2125551212:\nhi"}}}};
  EXPECT_FALSE(handler.handleGVPushNotification({"com.google.GVDialer", userInfo}));
}

TEST_F(IncomingMessageHandlerTest, InjectedTextsAreAskedForByTheirIds) {
  handler_.setRecvSignature("via GV");
  handler_.handleReceivedSMSforMessage("SMSReceived", record("first", "2125551212"));
  handler_.handleReceivedSMSforMessage("SMSReceived", record("second", "+1 (312) 555-0000"));
  EXPECT_EQ(announcedIds(), (std::vector<std::int64_t>{kFirst, kFirst + 1}));

  EXPECT_EQ(handler_.processIncomingMessage(kFirst - 1), nullptr);  // a carrier id: queue untouched
  EXPECT_EQ(handler_.processIncomingMessage(kFirst + 7), nullptr);  // never handed out

  auto first = handler_.processIncomingMessage(kFirst);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->messageId(), kFirst);
  EXPECT_EQ(first->text(), "first\nvia GV");
  EXPECT_EQ(first->sender()->digits(), "2125551212");
  auto second = handler_.processIncomingMessage(kFirst + 1);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->text(), "second\nvia GV");
  EXPECT_EQ(handler_.processIncomingMessage(kFirst), nullptr);  // each is handed out once
}

TEST_F(IncomingMessageHandlerTest, AnIdNeverAskedForDoesNotShiftTheOthers) {
  for (const char* text : {"lost", "kept", "last"}) {
    handler_.processasSMS(record(text, "2125551212"));
  }
  // The platform never asks for the first one; the later ones keep their own texts.
  EXPECT_EQ(handler_.processIncomingMessage(kFirst + 2)->text(), "last");
  EXPECT_EQ(handler_.processIncomingMessage(kFirst + 1)->text(), "kept");
  handler_.setRecvSignature("");
  EXPECT_EQ(handler_.processIncomingMessage(kFirst)->text(), "lost");
}

TEST_F(IncomingMessageHandlerTest, TheQueueIsBoundedAndIdsNeverLeaveTheReservedRange) {
  constexpr std::size_t kIds = 65536;
  for (std::size_t i = 0; i <= kIds; ++i) {
    handler_.processasSMS(record("text " + std::to_string(i), "2125551212"));
  }
  const auto ids = announcedIds();
  ASSERT_EQ(ids.size(), kIds + 1);
  EXPECT_EQ(ids[kIds - 1], 0xFFFFFFFFll);
  EXPECT_EQ(ids[kIds], kFirst);  // came round to the first reserved id, not to 0
  for (auto id : ids) ASSERT_GE(id, kFirst);

  // Only the newest records wait; the one that reused the first id is the newest text.
  const auto waiting = IncomingMessageHandler::kMaxWaitingRecords;
  EXPECT_EQ(handler_.processIncomingMessage(kFirst)->text(), "text 65536");
  EXPECT_EQ(handler_.processIncomingMessage(0xFFFFFFFFu - waiting + 1), nullptr);
  EXPECT_EQ(handler_.processIncomingMessage(0xFFFFFFFFu - waiting + 2)->text(),
            "text " + std::to_string(kIds - waiting + 1));
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
  std::vector<std::string> texts;
  for (std::uint32_t i = 0; i < kTexts; ++i) {
    std::shared_ptr<platform::CTMessage> message;
    for (int attempt = 0; attempt < 100000 && !message; ++attempt) {
      message = handler_.processIncomingMessage(kFirst + i);
      if (!message) std::this_thread::yield();
    }
    ASSERT_TRUE(message) << i;
    texts.push_back(message->text());
  }
  centre.join();
  for (std::uint32_t i = 0; i < kTexts; ++i) EXPECT_EQ(texts[i], "text " + std::to_string(i));
}

TEST_F(IncomingMessageHandlerTest, RecordsWithoutATextAreDroppedAndSendersBecomeAutoRules) {
  autoRules_.setEnableAutoSendRules(true);
  handler_.handleReceivedSMSforMessage("SMSReceived",
                                       {{std::string(kSMSSenderPhoneKey), "3125550000"}});
  handler_.handleReceivedSMSforMessage("SMSReceived", {});
  EXPECT_TRUE(announcedIds().empty());
  EXPECT_FALSE(autoRules_.recipientFound("13125550000"));

  handler_.handleReceivedSMSforMessage("SMSReceived", record("hi", "(312) 555-0000"));
  EXPECT_EQ(announcedIds().size(), 1u);
  EXPECT_TRUE(autoRules_.recipientFound("13125550000"));
}

TEST_F(IncomingMessageHandlerTest, WithoutAPhoneTextsArriveAsIMessages) {
  testing::RecordingAccountController controller(true);
  handler_.setIsAniPhone(false);
  handler_.setRecvSignature("sig");
  handler_.handleReceivedSMSforMessage("SMSReceived", record("hello", "2125551212"));
  handler_.processasiMsg(record("hi", "Nobody Known"));

  EXPECT_TRUE(announcedIds().empty());
  const auto received = controller.session->received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].chat, "+12125551212");
  EXPECT_EQ(received[0].message->sender(), "2125551212");
  EXPECT_EQ(received[0].message->body(), "hello\nsig");
  EXPECT_EQ(received[1].chat, "Nobody Known");
}

TEST_F(IncomingMessageHandlerTest, WithoutAnIMessageSessionTheTextIsDropped) {
  testing::RecordingAccountController controller(false);
  handler_.setIsAniPhone(false);
  handler_.processasiMsg(record("hello", "2125551212"));
  EXPECT_TRUE(controller.session->received().empty());
  EXPECT_TRUE(recorder_.localPosts().empty());
}

// Carrier SMS that Google Voice forwards from an access number, with names
// resolved on the stand-in service's recent-texts page.
class ForwardedCarrierSMSTest : public testing::GVServiceTest {
 protected:
  static constexpr const char* kAccess = "14155559000";

  ForwardedCarrierSMSTest() { accessNumbers_.setEnableAccessNumberCache(true); }

  ContactCache contacts_{gv_};
  AccessNumberCache accessNumbers_;
  AutoRuleHandler autoRules_;
  IncomingMessageHandler handler_{{&contacts_, &accessNumbers_, &autoRules_, nullptr}};
};

TEST_F(ForwardedCarrierSMSTest, SenderAndTextAreRewrittenAsTheTableSays) {
  struct Case {
    std::string label;
    std::string body;
    Text knownTarget;  // what the cache maps the access number to beforehand
    std::string sender;
    std::string text;
    Text targetAfter;
    bool mailOrPush = false;
  };
  const std::string kGV = "(415) 555-9000";  // the access number as the carrier writes it
  const std::vector<Case> cases{
      {"number prefix, nothing known", "2125551212 - hello there", std::nullopt, "2125551212",
       "hello there\nsig", "12125551212"},
      {"number prefix, another target known", "(312) 555-0000 - hi - again", "12125551212",
       "(312) 555-0000", "hi - again\nsig", "13125550000"},
      {"name that resolves, target known", "Ann O'Brien - See you", "12125551212", "12125551212",
       "See you\nsig", "12125551212"},
      {"name that resolves, no target", "Ann O'Brien - See you", std::nullopt, "+14155550101",
       "See you\nsig", std::nullopt},
      {"no separator, target known", "just a text", "12125551212", "12125551212", "just a text",
       "12125551212"},
      {"no separator, no target", "just a text", std::nullopt, kGV, "just a text", std::nullopt},
      {"unknown name, target known", "Nobody - hi", "12125551212", "12125551212", "Nobody - hi",
       "12125551212"},
      {"unknown name, no target", "Nobody - hi", std::nullopt, kGV, "Nobody - hi", std::nullopt},
      {"mail or push receive on", "2125551212 - hello", std::nullopt, kGV, "2125551212 - hello",
       std::nullopt, true},
  };
  handler_.setRecvSignature("sig");
  autoRules_.setEnableAutoSendRules(true);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    accessNumbers_.resetCache();
    if (c.knownTarget) accessNumbers_.addAccessNumber(kAccess, c.knownTarget);
    handler_.setEnableReceiveByMail(c.mailOrPush);
    platform::CTMessage message;
    message.setMessageType(1);
    message.setSender(platform::CTPhoneNumber::phoneNumberWithDigits(kGV, "us"));
    message.addText(c.body);
    handler_.modifyMessageifGV(message);
    EXPECT_EQ(message.sender()->digits(), c.sender);
    EXPECT_EQ(message.sender()->countryCode(), c.sender == kGV ? "us" : "1");
    ASSERT_EQ(message.items().size(), 1u);
    EXPECT_EQ(message.text(), c.text);
    EXPECT_EQ(accessNumbers_.targetNumber(kAccess), c.targetAfter);
  }
  EXPECT_TRUE(autoRules_.recipientFound("12125551212"));  // forwarded senders become auto rules
}

TEST_F(ForwardedCarrierSMSTest, ATextWithoutPrefixCostsNoRequest) {
  platform::CTMessage message;
  message.setSender(platform::CTPhoneNumber::phoneNumberWithDigits("2125551212", "us"));
  message.addText("an ordinary text");
  handler_.modifyMessageifGV(message);
  EXPECT_EQ(message.text(), "an ordinary text");
  EXPECT_TRUE(service_.journal().empty());
}

}  // namespace
}  // namespace pelorin
