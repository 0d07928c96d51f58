#include "outgoing/recipient_processor.h"

#include "common/logger.h"
#include "platform/messaging/ct_phone_number.h"
#include "voice/gv_interface.h"

namespace pelorin {

SendMode RecipientProcessor::handleRecipients(platform::CTMessage& message) {
  const auto& recipients = message.recipients();
  const unsigned long count = recipients.size();
  const Text number =
      count > 0 && recipients.front() ? recipients.front()->canonicalFormat() : Text();
  Logger::log("In handle recipients with recipient count %lu and first recipient %@", count,
              number);
  const SendMode mode = sendModebyPhoneType(number);
  Logger::log("SMS to be sent to first phone %@ with mode %d", number, mode);
  if (count != 1) return SendModeFailed;
  if (!needAccessNumbers_) return mode;
  return setOneRecipient(message);
}

SendMode RecipientProcessor::sendModebyPhoneType(const Text& number, Decision* decision) {
  Decision local;
  Decision& record = decision ? *decision : local;
  record = {};
  const PhoneNumberType type = CommonUtils::phoneNumberType(number);
  record.type = type;
  if (type == PhoneNumberTypeInvalid || type == PhoneNumberTypeSpecial) {
    record.step = Decision::Step::NotANumber;
    return SendModeCarrier;
  }
  if (type == PhoneNumberTypeInternational && !handler_.enableIntlSMSDorvessa()) {
    record.step = Decision::Step::InternationalOff;
    return SendModeCarrier;
  }
  if (type == PhoneNumberTypeShortCode && !handler_.enableShortCodeonGV()) {
    record.step = Decision::Step::ShortCodeOff;
    return SendModeCarrier;
  }
  record.step = Decision::Step::Rules;
  canonicalPhoneNumber_ = CommonUtils::toCanonicalPhoneNumber(number);
  Logger::log("send mode rules are being checked for recipient %@", canonicalPhoneNumber_);
  const SendMode mode =
      handler_.sendModebyRules(canonicalPhoneNumber_, handler_.defaultSMSSendMode(), &record.rule);
  record.ruleMode = mode;
  if (mode != SendModeGoogleVoice) return mode;
  if (type == PhoneNumberTypeInternational) {
    needAccessNumbers_ = true;
    return SendModeGoogleVoice;
  }
  if (type == PhoneNumberTypeShortCode) return SendModeGoogleVoiceShortCode;
  if (handler_.gvSMSviaCarrier()) needAccessNumbers_ = true;
  return SendModeGoogleVoice;
}

SendMode RecipientProcessor::setOneRecipient(platform::CTMessage& message) {
  const Text accessNumber =
      handler_.gvInterface().getGVAccessNumberwithRetry(canonicalPhoneNumber_);
  if (!accessNumber) return SendModeFailed;
  message.setRecipient(platform::CTPhoneNumber::phoneNumberWithDigits(accessNumber, "us"));
  Logger::log("Recipient access number obtained: %@", accessNumber);
  return SendModeCarrier;
}

}  // namespace pelorin
