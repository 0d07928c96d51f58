#pragma once

#include <cstdint>

#include "common/common_utils.h"
#include "common/send_mode.h"
#include "outgoing/outgoing_message_handler.h"
#include "platform/messaging/ct_message.h"
#include "platform/text.h"

namespace pelorin {

// Turns the recipients of one outgoing carrier SMS into its final SendMode,
// with the switches and rules of an OutgoingMessageHandler. Only a message
// with exactly one recipient is routed. A recipient to be reached by the
// carrier through Google Voice is replaced by its access number. One
// instance per message, used once, on the thread of the SMS send hook.
class RecipientProcessor {
 public:
  // Which step decided one recipient's mode.
  struct Decision {
    enum class Step : std::uint8_t {
      NotANumber,        // invalid or special: the carrier
      InternationalOff,  // international while international SMS via Google Voice is off
      ShortCodeOff,      // short code while short codes via Google Voice are off
      Rules,             // rule evaluation decided (see `rule`)
    };
    PhoneNumberType type = PhoneNumberTypeInvalid;
    Step step = Step::NotANumber;
    OutgoingMessageHandler::RuleDecision rule;  // meaningful for Step::Rules
    SendMode ruleMode = SendModeNoRule;         // what rule evaluation gave
  };

  // `handler` must outlive the processor.
  explicit RecipientProcessor(OutgoingMessageHandler& handler) : handler_(handler) {}
  RecipientProcessor(const RecipientProcessor&) = delete;
  RecipientProcessor& operator=(const RecipientProcessor&) = delete;

  // The final mode of `message`: SendModeFailed for other than one
  // recipient or when an access number was needed and could not be had;
  // SendModeCarrier after the recipient was replaced by its access number;
  // otherwise the first recipient's mode. May block while an access number
  // is fetched.
  SendMode handleRecipients(platform::CTMessage& message);

  // The mode of one recipient's number; sets needAccessNumbers() and
  // canonicalPhoneNumber() as evaluation goes. `decision`, when given,
  // records the steps taken.
  SendMode sendModebyPhoneType(const Text& number, Decision* decision = nullptr);

  // Replaces the message's recipient by the access number of
  // canonicalPhoneNumber(): SendModeCarrier, or SendModeFailed when none.
  SendMode setOneRecipient(platform::CTMessage& message);

  bool needAccessNumbers() const { return needAccessNumbers_; }
  const Text& canonicalPhoneNumber() const { return canonicalPhoneNumber_; }

 private:
  OutgoingMessageHandler& handler_;
  bool needAccessNumbers_ = false;
  Text canonicalPhoneNumber_;
};

}  // namespace pelorin
