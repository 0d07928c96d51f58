#include "outgoing/recipient_processor.h"

#include <gtest/gtest.h>

#include "outgoing/outgoing_test_fixture.h"

namespace pelorin::testing {
namespace {

// How an outgoing SMS left the decision.
enum class Route { Carrier, AccessNumber, GoogleVoice, Failed, Untouched };

struct Switches {
  bool omni = false;
  bool rules = true;
  SendMode defaultMode = 1;
  bool intl = false;
  bool shortCode = false;
  bool viaCarrier = false;
};

struct SMSCase {
  const char* name;
  Switches switches;
  platform::Dictionary rules;
  std::vector<std::string> autoRules;
  std::vector<std::string> recipients;
  bool accessNumberKnown;
  SendMode recipientMode;  // the first recipient's mode as evaluated
  Route route;
};

constexpr const char* kAccessNumber = "14155550999";

using RecipientProcessorTest = OutgoingTest;

TEST_F(RecipientProcessorTest, EachRecipientKindIsRoutedByTheSwitchesAndRules) {
  const Switches d;
  const Switches rulesOff{.rules = false, .defaultMode = 0};
  const Switches omniRulesOff{.omni = true, .rules = false, .defaultMode = 0};
  const Switches intlOn{.intl = true};
  const Switches viaCarrier{.viaCarrier = true};
  const Switches omni{.omni = true};
  const Switches def0{.defaultMode = 0};
  const Switches omniShort{.omni = true, .shortCode = true};
  const std::string us = "2125551212";
  const std::string usC = "12125551212";
  const std::string uk = "+44 20 7946 0123";
  const Route C = Route::Carrier, A = Route::AccessNumber, G = Route::GoogleVoice,
              F = Route::Failed;
  const std::vector<SMSCase> cases = {
      {"defaults send a US number through Google Voice", d, {}, {}, {us}, false, 1, G},
      {"rules off and default 0 ignore the automatic rules", rulesOff, {}, {usC}, {us}, 0, 0, C},
      {"omni-send wins over rules off", omniRulesOff, {}, {}, {us}, false, 1, G},
      {"a stored default of 2 acts as 1", {.defaultMode = 2}, {}, {}, {us}, false, 1, G},
      {"a stored default of -1 acts as 1", {.defaultMode = -1}, {}, {}, {us}, false, 1, G},
      {"a carrier rule beats the automatic rules", def0, {{usC, 0}}, {usC}, {us}, false, 0, C},
      {"the automatic rules send through Google Voice", def0, {}, {usC}, {us}, false, 1, G},
      {"a special number goes by carrier even with omni", omni, {}, {}, {"911"}, false, 0, C},
      {"an invalid number goes by carrier", d, {}, {}, {"hello"}, false, 0, C},
      {"international while off consults no rule", d, {{"01144", 1}}, {}, {uk}, true, 0, C},
      {"international rule 1 goes to its access number", intlOn, {{"01144", 1}}, {}, {uk}, 1, 1, A},
      {"international rule 0 goes to the number", intlOn, {{"01144", 0}}, {}, {uk}, true, 0, C},
      {"international without an access number fails", intlOn, {}, {}, {uk}, false, 1, F},
      {"a short code while off goes by carrier", omni, {}, {}, {"22000"}, false, 0, C},
      {"a short code with omni-send is mode 2", omniShort, {}, {}, {"22000"}, false, 2, G},
      {"US by carrier to its access number", viaCarrier, {}, {}, {us}, true, 1, A},
      {"US by carrier without an access number fails", viaCarrier, {}, {}, {us}, false, 1, F},
      {"a rule of 2 is kept, through Google Voice", viaCarrier, {{"1212", 2}}, {}, {us}, 0, 2, G},
      {"a rule of -2 fails the send", d, {{"1212", -2}}, {}, {us}, false, -2, F},
      {"a rule of 5 goes through Google Voice", d, {{"1212", 5}}, {}, {us}, false, 5, G},
      {"two carrier recipients fail", d, {{"1212", 0}}, {}, {us, "2125551313"}, false, 0, F},
  };

  std::uint32_t id = 100;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ++id;
    OutgoingMessageHandler& h = handler();
    h.setEnableOmniDorvessa(c.switches.omni);
    h.setEnableSendRules(c.switches.rules);
    h.setDefaultSMSSendMode(c.switches.defaultMode);
    h.setEnableIntlSMSDorvessa(c.switches.intl);
    h.setEnableShortCodeonGV(c.switches.shortCode);
    h.setGVSMSviaCarrier(c.switches.viaCarrier);
    writeRules(c.rules);
    autoRules_.setEnableAutoSendRules(false);
    if (!c.autoRules.empty()) writeAutoRules(c.autoRules);
    gv_.accessNumberCache().resetCache();
    const Text canonical = CommonUtils::toCanonicalPhoneNumber(c.recipients.front());
    if (c.accessNumberKnown) knowAccessNumber(*canonical, kAccessNumber);
    waitForWorkerReports();
    notifications_.clear();
    workers_ = 0;

    // The recipient's own mode, as recipient evaluation gives it.
    RecipientProcessor evaluation(h);
    EXPECT_EQ(evaluation.sendModebyPhoneType(c.recipients.front()), c.recipientMode);

    auto message = outgoingSMS(c.recipients, "hi", id);
    bool returnValue = true;
    const bool takenOver = h.processOutgoingSMS(message, returnValue);
    const auto& sentTo = message->recipients().front()->canonicalFormat();
    switch (c.route) {
      case Route::Carrier:
        EXPECT_FALSE(takenOver);
        EXPECT_EQ(sentTo, c.recipients.front());
        break;
      case Route::AccessNumber:
        EXPECT_FALSE(takenOver);
        EXPECT_EQ(sentTo, kAccessNumber);
        EXPECT_EQ(message->recipients().front()->countryCode(), "us");
        break;
      case Route::GoogleVoice:
        EXPECT_TRUE(takenOver);
        EXPECT_FALSE(returnValue);
        expectWorker();
        waitForWorkerReports();
        // The stand-in address refuses: the worker reports this message failed.
        EXPECT_EQ(carrierPosts(), (std::vector<std::pair<std::string, std::int64_t>>{
                                      {std::string(kCTMessageSendErrorNotification), id}}));
        break;
      case Route::Failed:
        EXPECT_TRUE(takenOver);
        EXPECT_FALSE(returnValue);
        EXPECT_EQ(carrierPosts(), (std::vector<std::pair<std::string, std::int64_t>>{
                                      {std::string(kCTMessageSendErrorNotification), id}}));
        break;
      case Route::Untouched:
        break;
    }
    if (c.route == Route::Carrier || c.route == Route::AccessNumber) {
      EXPECT_TRUE(notifications_.localPosts().empty());
    }
  }
}

TEST_F(RecipientProcessorTest, MessagesThatAreNotOnePlainTextGoToThePlatformUntouched) {
  auto twoParts = outgoingSMS({"2125551212"}, "hi", 1, 2);
  auto noRecipient = outgoingSMS({}, "hi", 2);
  auto otherType = outgoingSMS({"2125551212"}, "hi", 3);
  otherType->setMessageType(2);
  for (const auto& message : {twoParts, noRecipient, otherType}) {
    bool returnValue = true;
    EXPECT_FALSE(handler().processOutgoingSMS(message, returnValue));
    EXPECT_TRUE(returnValue);
  }
  EXPECT_TRUE(notifications_.localPosts().empty());
}

TEST_F(RecipientProcessorTest, ATextThatIsNotUTF8FailsInsteadOfGoingThroughGoogleVoice) {
  auto message = outgoingSMS({"2125551212"}, "bad \xff byte", 9);
  bool returnValue = true;
  EXPECT_TRUE(handler().processOutgoingSMS(message, returnValue));
  EXPECT_FALSE(returnValue);
  EXPECT_EQ(carrierPosts(), (std::vector<std::pair<std::string, std::int64_t>>{
                                {std::string(kCTMessageSendErrorNotification), 9}}));
  // By carrier it leaves as it is.
  writeRules({{"1212", 0}});
  EXPECT_FALSE(
      handler().processOutgoingSMS(outgoingSMS({"2125551212"}, "bad \xff", 10), returnValue));
}

TEST_F(RecipientProcessorTest, DecisionRecordNamesTheStepThatDecided) {
  using Step = RecipientProcessor::Decision::Step;
  using Source = OutgoingMessageHandler::RuleDecision::Source;
  writeRules({{"1212", 0}});
  writeAutoRules({"13105551212"});
  handler().setEnableIntlSMSDorvessa(true);
  struct Row {
    const char* number;
    Step step;
    Source source;
    Text ruleKey;
    Text canonical;
  };
  const std::vector<Row> rows = {
      {"911", Step::NotANumber, Source::Default, std::nullopt, std::nullopt},
      {"22000", Step::ShortCodeOff, Source::Default, std::nullopt, std::nullopt},
      {"2125551212", Step::Rules, Source::SendRule, "1212", "12125551212"},
      {"3105551212", Step::Rules, Source::AutoRule, std::nullopt, "13105551212"},
      {"+33 1 23 45 67 89", Step::Rules, Source::Default, std::nullopt, "01133123456789"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.number);
    RecipientProcessor processor(handler());
    RecipientProcessor::Decision decision;
    processor.sendModebyPhoneType(row.number, &decision);
    EXPECT_EQ(decision.step, row.step);
    EXPECT_EQ(processor.canonicalPhoneNumber(), row.canonical);
    if (row.step == Step::Rules) {
      EXPECT_EQ(decision.rule.source, row.source);
      EXPECT_EQ(decision.rule.ruleKey, row.ruleKey);
    }
  }
}

}  // namespace
}  // namespace pelorin::testing
