// The operations built on the Google Voice session: sending texts, the recent
// texts, access numbers, call-back and voicemail, and the token-refresh ladder.
#include "common/common_utils.h"
#include "common/logger.h"
#include "platform/format.h"
#include "voice/gv_interface.h"
#include "voice/percent_escaping.h"

namespace pelorin {
namespace {

constexpr std::string_view kMobileBasePath = "/voice/m";

}  // namespace

// --- Token-refresh ladder ---

bool GVInterface::runTokenRefreshLadder(const std::function<Attempt()>& attempt) {
  Attempt result = attempt();
  if (result != Attempt::kFailed) return result == Attempt::kSucceeded;

  bool haveCookie = fetchGvxCookieLocked();
  if (!haveCookie && signInLocked()) haveCookie = fetchGvxCookieLocked();
  if (haveCookie) {
    result = attempt();
    if (result != Attempt::kFailed) return result == Attempt::kSucceeded;
  }

  logOutLocked();
  return signInLocked() && fetchGvxCookieLocked() && attempt() == Attempt::kSucceeded;
}

// --- Sending ---

bool GVInterface::sendSMS(const Text& message, const Text& recipient) {
  std::lock_guard lock(operationMutex_);
  if (!message || !recipient) return false;
  return sendOnceLocked(*message, *recipient) == Attempt::kSucceeded;
}

GVInterface::Attempt GVInterface::sendOnceLocked(const std::string& message,
                                                 const std::string& recipient) {
  if (!authToken_ || !gvxCookie_) return Attempt::kFailed;
  const std::string path = platform::format("%@/x?m=sms&n=%@&txt=%@", kMobileBasePath,
                                            percentEscaped(recipient), percentEscaped(message));
  const Reply reply =
      exchange({"POST", path, kAuthorizationField | kUserAgentField, gvxBody(), false});
  if (reply.inDoubt) {
    Logger::log("No answer to the text for %@, which may have reached the service: not sent again",
                recipient);
    return Attempt::kInDoubt;
  }
  if (!reply.body) return Attempt::kFailed;
  Logger::logData("send sms response\n%@\n", *reply.body);
  const bool accepted = valueInReply("\"send_sms_response\":", *reply.body, ',') == "0";
  return accepted ? Attempt::kSucceeded : Attempt::kFailed;
}

bool GVInterface::sendSMSwithRetry(const Text& message, const Text& recipient) {
  std::lock_guard lock(operationMutex_);
  // Without a text or a recipient there is nothing to send, so nothing to retry.
  const bool sent = message && recipient &&
                    runTokenRefreshLadder([&] { return sendOnceLocked(*message, *recipient); });
  if (!sent) Logger::log("Could not send SMS to %@ using GV", recipient);
  return sent;
}

// --- Recent texts ---

std::optional<std::string> GVInterface::recvSMS() {
  std::lock_guard lock(operationMutex_);
  if (!authToken_) return std::nullopt;
  auto body = replyBody({"GET", "/voice/inbox/recent/sms", kAuthorizationField, std::nullopt});
  if (body) Logger::logData("recv sms:\n%@\n", *body);
  return body;
}

// --- Access numbers ---

Text GVInterface::getGVDirectAccessNumber(const Text& targetNumber) {
  std::lock_guard lock(operationMutex_);
  if (!targetNumber) return std::nullopt;
  return directAccessNumberLocked(*targetNumber);
}

Text GVInterface::directAccessNumberLocked(const std::string& targetNumber) {
  if (!authToken_ || !gvxCookie_) return std::nullopt;
  const std::string path =
      platform::format("%@/x?m=call&n=%@&f=%@&v=6", kMobileBasePath, targetNumber, iPhoneNumber());
  const auto body = replyBody({"POST", path, kAuthorizationField | kUserAgentField, gvxBody()});
  if (!body) return std::nullopt;
  Logger::logData("Direct dial access number response: %@", *body);
  Text accessNumber =
      CommonUtils::toCanonicalPhoneNumber(valueInReply("\"access_number\":\"", *body, '"'));
  const Text balance = valueInReply("\"formatted_balance\":\"", *body, '"');
  setGVBalance(balance);
  Logger::log("Access number: %@ Balance: %@", accessNumber, balance);
  // An empty or malformed value is no number the carrier could text.
  if (accessNumber && !CommonUtils::isNumberValidforSMS(accessNumber)) {
    Logger::log("Access number %@ is not a number for texting", accessNumber);
    accessNumber.reset();
  }
  return accessNumber;
}

Text GVInterface::getGVAccessNumberwithRetry(const Text& targetNumber) {
  if (Text cached = accessNumberCache_.accessNumber(targetNumber)) return cached;
  if (!targetNumber) return std::nullopt;

  Text accessNumber;
  {
    if (!useDataforAccessNumbers() || !isiPhoneNumberValid()) return std::nullopt;
    std::lock_guard lock(operationMutex_);
    const bool found = runTokenRefreshLadder([&] {
      accessNumber = directAccessNumberLocked(*targetNumber);
      return accessNumber ? Attempt::kSucceeded : Attempt::kFailed;
    });
    if (!found) {
      Logger::log("Could not obtain GV access number for the phone number: %@", targetNumber);
      return std::nullopt;
    }
  }
  // Recorded after the session lock is released: no lock is held while the
  // cache takes its own.
  accessNumberCache_.addAccessNumber(accessNumber, targetNumber);
  return accessNumber;
}

// --- Call-back ---

bool GVInterface::setupGVCallback(const Text& number) {
  std::lock_guard lock(operationMutex_);
  if (!authToken_ || !rnrseToken_ || !number) return false;
  Text forwardingNumber, phoneType;
  {
    std::lock_guard fields(fieldsMutex_);
    forwardingNumber = callbackNumber_;
    phoneType = phoneType_;
  }
  const std::string form = platform::format(
      "outgoingNumber=%@&forwardingNumber=%@&subscriberNumber=undefined&phoneType=%@&remember=0"
      "&_rnr_se=%@",
      percentEscaped(*number), forwardingNumber, phoneType, rnrseToken_);
  Logger::log("Call back request body: %@", form);
  // Asked again, the service would ring twice.
  const auto body =
      exchange({"POST", "/voice/call/connect/", kAuthorizationField, form, false}).body;
  if (!body) return false;
  Logger::logData("Setup callback response:\n%@\n", *body);
  return valueInReply("\"ok\":", *body, ',') == "true";
}

bool GVInterface::cancelGVCallback() {
  std::lock_guard lock(operationMutex_);
  if (!authToken_ || !rnrseToken_) return false;
  const std::string form = platform::format(
      "outgoingNumber=undefined&forwardingNumber=undefined&cancelType=C2C&_rnr_se=%@", rnrseToken_);
  const auto body = replyBody({"POST", "/voice/call/cancel/", kAuthorizationField, form});
  if (!body) return false;
  Logger::logData("Cancel callback response:\n%@\n", *body);
  return valueInReply("\"ok\" : ", *body, '}') == "true";
}

// --- Voicemail ---

std::optional<std::string> GVInterface::getVoiceMailList() {
  std::lock_guard lock(operationMutex_);
  if (!authToken_ || !gvxCookie_) return std::nullopt;
  auto body = replyBody({"POST", "/voice/m/x?m=list&l=voicemail&o=0&lm=10",
                         kAuthorizationField | kUserAgentField, gvxBody()});
  if (body) {
    Logger::logData("Voice mail response: %@", *body);
  } else {
    Logger::log("Getting Voice Mail failed");
  }
  return body;
}

}  // namespace pelorin
