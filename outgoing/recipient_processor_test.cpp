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
  const Switches defaults;
  const Switches rulesOffCarrier{.rules = false, .defaultMode = 0};
  const Switches rulesOffOmni{.omni = true, .rules = false, .defaultMode = 0};
  const Switches intlOn{.intl = true};
  const Switches viaCarrier{.viaCarrier = true};
  const std::string us = "2125551212";
  const std::string usCanonical = "12125551212";
  const std::string intl = "+44 20 7946 0123";
  const std::string intlCanonical = "011442079460123";
  const std::vector<SMSCase> cases = {
      {"defaults send a US number through Google Voice",
       defaults,
       {},
       {},
       {us},
       false,
       1,
       Route::GoogleVoice},
      {"rules off and default 0 ignore the automatic rules",
       rulesOffCarrier,
       {},
       {usCanonical},
       {us},
       false,
       0,
       Route::Carrier},
      {"omni-send wins over rules off", rulesOffOmni, {}, {}, {us}, false, 1, Route::GoogleVoice},
      {"a stored default of 2 acts as 1",
       {.defaultMode = 2},
       {},
       {},
       {us},
       false,
       1,
       Route::GoogleVoice},
      {"a stored default of -1 acts as 1",
       {.defaultMode = -1},
       {},
       {},
       {us},
       false,
       1,
       Route::GoogleVoice},
      {"a carrier rule beats the automatic rules",
       {.defaultMode = 0},
       {{usCanonical, 0}},
       {usCanonical},
       {us},
       false,
       0,
       Route::Carrier},
      {"the automatic rules send through Google Voice",
       {.defaultMode = 0},
       {},
       {usCanonical},
       {us},
       false,
       1,
       Route::GoogleVoice},
      {"a special number goes by carrier even with omni-send",
       {.omni = true},
       {},
       {},
       {"911"},
       false,
       0,
       Route::Carrier},
      {"an invalid number goes by carrier", defaults, {}, {}, {"hello"}, false, 0, Route::Carrier},
      {"international while off consults no rule",
       defaults,
       {{"01144", 1}},
       {},
       {intl},
       true,
       0,
       Route::Carrier},
      {"international rule 1 goes to its access number",
       intlOn,
       {{"01144", 1}},
       {},
       {intl},
       true,
       1,
       Route::AccessNumber},
      {"international rule 0 goes to the number itself",
       intlOn,
       {{"01144", 0}},
       {},
       {intl},
       true,
       0,
       Route::Carrier},
      {"international without an access number fails",
       intlOn,
       {},
       {},
       {intl},
       false,
       1,
       Route::Failed},
      {"a short code while off goes by carrier",
       {.omni = true},
       {},
       {},
       {"22000"},
       false,
       0,
       Route::Carrier},
      {"a short code with omni-send is mode 2",
       {.omni = true, .shortCode = true},
       {},
       {},
       {"22000"},
       false,
       2,
       Route::GoogleVoice},
      {"US by carrier to its access number",
       viaCarrier,
       {},
       {},
       {us},
       true,
       1,
       Route::AccessNumber},
      {"US by carrier without an access number fails",
       viaCarrier,
       {},
       {},
       {us},
       false,
       1,
       Route::Failed},
      {"a rule of 2 is kept and sent through Google Voice",
       viaCarrier,
       {{"1212", 2}},
       {},
       {us},
       false,
       2,
       Route::GoogleVoice},
      {"a rule of -2 fails the send", defaults, {{"1212", -2}}, {}, {us}, false, -2, Route::Failed},
      {"a rule of 5 goes through Google Voice",
       defaults,
       {{"1212", 5}},
       {},
       {us},
       false,
       5,
       Route::GoogleVoice},
      {"two carrier recipients fail",
       defaults,
       {{"1212", 0}},
       {},
       {us, "2125551313"},
       false,
       0,
       Route::Failed},
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
    workers_ = failures_ = 0;

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
