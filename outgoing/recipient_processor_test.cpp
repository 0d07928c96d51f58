#include "outgoing/recipient_processor.h"

#include "outgoing/outgoing_test_fixture.h"

namespace pelorin::testing {
namespace {

// How an outgoing SMS left the decision.
enum class Route { Carrier, AccessNumber, GoogleVoice, Failed };
// The switches of a case, and whether the recipient's access number is known.
enum : int { kOmni = 1, kRulesOff = 2, kIntl = 4, kShort = 8, kViaCarrier = 16, kKnown = 32 };

constexpr const char* kAccessNumber = "14155550999";
using RecipientProcessorTest = OutgoingTest;

TEST_F(RecipientProcessorTest, EachRecipientKindIsRoutedByTheSwitchesAndRules) {
  const std::string us = "2125551212", usC = "12125551212", uk = "+44 20 7946 0123";
  using Step = RecipientProcessor::Decision::Step;
  const auto N = Step::NotANumber, I = Step::InternationalOff, S = Step::ShortCodeOff,
             R = Step::Rules;
  using Source = OutgoingMessageHandler::RuleDecision::Source;
  const auto Om = Source::OmniSend, Of = Source::RulesOff, Ru = Source::SendRule,
             Au = Source::AutoRule, De = Source::Default;
  const auto C = Route::Carrier, A = Route::AccessNumber, G = Route::GoogleVoice, F = Route::Failed;
  struct Row {
    int flags;
    SendMode defaultMode;
    platform::Dictionary rules;
    Text autoRule;
    std::vector<std::string> recipients;
    SendMode recipientMode;  // the first recipient's mode as evaluated
    Route route;
    Step step;      // the step that decided the first recipient
    Source source;  // and what decided its rules
  };
  const Row rows[] = {
      {0, 1, {}, {}, {us}, 1, G, R, De},
      {kRulesOff, 0, {}, usC, {us}, 0, C, R, Of},  // the automatic rules are not asked
      {kOmni | kRulesOff, 0, {}, {}, {us}, 1, G, R, Om},
      {0, 2, {}, {}, {us}, 1, G, R, De},  // a stored default other than 0 acts as 1
      {0, -1, {}, {}, {us}, 1, G, R, De},
      {0, 0, {{usC, 0}}, usC, {us}, 0, C, R, Ru},  // a rule beats the automatic rules
      {0, 0, {}, usC, {us}, 1, G, R, Au},
      {0, 0, {{"1212", -1}}, usC, {us}, 1, G, R, Au},  // a rule of -1 counts as none
      {kOmni, 1, {}, {}, {"911"}, 0, C, N, De},
      {0, 1, {}, {}, {"hello"}, 0, C, N, De},
      {kKnown, 1, {{"01144", 1}}, {}, {uk}, 0, C, I, De},  // international while off: no rule asked
      {kIntl | kKnown, 1, {{"01144", 1}}, {}, {uk}, 1, A, R, Ru},
      {kIntl | kKnown, 1, {{"01144", 0}}, {}, {uk}, 0, C, R, Ru},
      {kIntl, 1, {}, {}, {uk}, 1, F, R, De},
      {kOmni, 1, {}, {}, {"22000"}, 0, C, S, De},
      {kOmni | kShort, 1, {}, {}, {"22000"}, 2, G, R, Om},
      {kShort | kKnown | kViaCarrier, 1, {}, {}, {"22000"}, 2, G, R, De},  // never an access number
      {kViaCarrier | kKnown, 1, {}, {}, {us}, 1, A, R, De},
      {kViaCarrier, 1, {}, {}, {us}, 1, F, R, De},
      {kViaCarrier | kKnown, 1, {{"1212", 2}}, {}, {us}, 2, G, R, Ru},
      {0, 1, {{"1212", -2}}, {}, {us}, -2, F, R, Ru},
      {0, 1, {{"1212", 5}}, {}, {us}, 5, G, R, Ru},
      {0, 1, {{"1212", 0}}, {}, {us, "2125551313"}, 0, F, R, Ru},
      {0, 1, {}, {}, {us, "2125551313"}, 1, F, R, De},
  };
  std::uint32_t id = 100;
  for (const auto& row : rows) {
    SCOPED_TRACE(++id);
    handler_.setEnableOmniDorvessa(row.flags & kOmni);
    handler_.setEnableSendRules(!(row.flags & kRulesOff));
    handler_.setDefaultSMSSendMode(row.defaultMode);
    handler_.setEnableIntlSMSDorvessa(row.flags & kIntl);
    handler_.setEnableShortCodeonGV(row.flags & kShort);
    handler_.setGVSMSviaCarrier(row.flags & kViaCarrier);
    writeRules(row.rules);
    autoRules_.setEnableAutoSendRules(row.autoRule.has_value());
    autoRules_.addRecipient(row.autoRule);
    gv_.accessNumberCache().resetCache();
    const Text canonical = CommonUtils::toCanonicalPhoneNumber(row.recipients.front());
    if (row.flags & kKnown) gv_.accessNumberCache().addAccessNumber(kAccessNumber, canonical);
    notifications_.clear();
    http_.hold();  // a worker cannot post before its request fails
    const std::size_t requestsBefore = http_.requests().size();

    RecipientProcessor::Decision decision;
    RecipientProcessor evaluation(handler_);
    EXPECT_EQ(evaluation.sendModebyPhoneType(row.recipients.front(), &decision), row.recipientMode);
    EXPECT_EQ(decision.step, row.step);
    EXPECT_EQ(decision.rule.source, row.source);
    EXPECT_EQ(decision.rule.ruleKey, row.source == Ru ? Text(row.rules.begin()->first) : Text());
    EXPECT_EQ(evaluation.canonicalPhoneNumber(), row.step == R ? canonical : std::nullopt);
    auto message = smsMessage(row.recipients, {"hi"}, id);
    bool returnValue = true;
    const bool takenOver = handler_.processOutgoingSMS(message, returnValue);
    EXPECT_EQ(takenOver, row.route == G || row.route == F);
    EXPECT_EQ(returnValue, !takenOver);
    // A failure is posted at once; a worker posts its own after asking the service.
    const Calls failed{"SendError " + std::to_string(id)};
    EXPECT_EQ(carrierPosts(notifications_), row.route == F ? failed : Calls{});
    http_.release();
    EXPECT_EQ(row.route == G ? waitForPosts(1) : failed, failed);
    EXPECT_EQ(http_.requests().size() > requestsBefore, row.route == G);
    const auto& sentTo = message->recipients().front();
    EXPECT_EQ(sentTo->canonicalFormat(), row.route == A ? kAccessNumber : row.recipients.front());
    EXPECT_EQ(sentTo->countryCode(), "us");
  }
}

TEST_F(RecipientProcessorTest, MessagesThatAreNotOnePlainUTF8TextAreLeftAloneOrFail) {
  auto otherType = smsMessage({"2125551212"}, {"hi"}, 3);
  otherType->setMessageType(2);
  for (const auto& message :
       {smsMessage({"2125551212"}, {"hi", "hi"}, 1), smsMessage({}, {"hi"}, 2), otherType, {}}) {
    bool returnValue = true;
    EXPECT_FALSE(handler_.processOutgoingSMS(message, returnValue));
    EXPECT_TRUE(returnValue);
  }
  // Not UTF-8: no text for the service, so the send fails; by carrier it leaves as it is.
  bool returnValue = true;
  EXPECT_TRUE(handler_.processOutgoingSMS(smsMessage({"2125551212"}, {"\xff"}, 9), returnValue));
  EXPECT_EQ(carrierPosts(notifications_), Calls{"SendError 9"});
  writeRules({{"1212", 0}});
  EXPECT_FALSE(handler_.processOutgoingSMS(smsMessage({"2125551212"}, {"\xff"}, 10), returnValue));
  EXPECT_TRUE(http_.requests().empty());
}

}  // namespace
}  // namespace pelorin::testing
