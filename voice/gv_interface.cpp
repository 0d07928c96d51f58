// The Google Voice session: request conventions, sign-in and sign-out, the
// form token, the mobile cookie, the account number, and the fields.
#include "voice/gv_interface.h"

#include "common/common_utils.h"
#include "common/logger.h"
#include "platform/format.h"
#include "platform/http_client.h"
#include "voice/percent_escaping.h"

namespace pelorin {
namespace {

constexpr std::string_view kUserAgent =
    "Mozilla/5.0 (iPhone; U; CPU iPhone OS 3_0 like Mac OS X; en-us) AppleWebKit/528.18 "
    "(KHTML, like Gecko) Version/4.0 Mobile/7A341 Safari/528.16";
constexpr std::string_view kClientLoginService = "grandcentral";
constexpr std::string_view kClientLoginSource = "Brenmoor";
constexpr std::string_view kMobileBasePath = "/voice/m";
constexpr std::string_view kMailDomain = "gmail.com";

}  // namespace

GVInterface& GVInterface::sharedInstance() {
  static auto* const instance = new GVInterface(platform::voiceServiceBaseURL());
  return *instance;
}

GVInterface::GVInterface(std::string serviceBaseURL) : serviceBaseURL_(std::move(serviceBaseURL)) {}

// --- Request conventions ---

GVInterface::Reply GVInterface::exchange(const Request& request) const {
  if (!platform::isHttpsURL(serviceBaseURL_)) {
    Logger::log("Service URL %@ is not an https:// URL: request not sent", serviceBaseURL_);
    return {};
  }
  platform::HttpRequest http{.method = std::string(request.method),
                             .url = serviceBaseURL_ + request.pathAndQuery,
                             .repeatable = request.repeatable};
  if (request.fields & kAuthorizationField) {
    http.headerFields.push_back(
        {"Authorization", platform::format("GoogleLogin auth=%@", authToken_)});
  }
  if (request.fields & kUserAgentField) {
    http.headerFields.push_back({"User-Agent", std::string(kUserAgent)});
  }
  if (request.body) http.body = *request.body;

  auto outcome = platform::httpClient().send(http);
  if (!outcome.reply) return {.inDoubt = outcome.mayHaveArrived};
  if (outcome.reply->status != 200) return {};
  return {.body = std::move(outcome.reply->body)};
}

std::string GVInterface::gvxBody() const {
  return platform::format("{\"gvx\":\"%@\"}", gvxCookie_);
}

// --- Sign-in and sign-out ---

bool GVInterface::getAuthToken() {
  std::lock_guard lock(operationMutex_);
  return signInLocked();
}

bool GVInterface::signInLocked() {
  Text userName, password;
  {
    std::lock_guard lock(fieldsMutex_);
    userName = userName_;
    password = password_;
  }
  if (!userName || !password) return false;
  setSessionField(authToken_, std::nullopt);
  const std::string form =
      platform::format("Email=%@&Passwd=%@&service=%@&source=%@", percentEscaped(*userName),
                       percentEscaped(*password), kClientLoginService, kClientLoginSource);
  const auto body = replyBody({"POST", "/accounts/ClientLogin", kNoFields, form});
  if (!body) return false;
  Logger::logData("get auth token\n%@\n", *body);
  setSessionField(authToken_, valueInReply("Auth=", *body, 0));
  return true;
}

void GVInterface::setSessionField(Text& field, Text value) {
  std::lock_guard lock(fieldsMutex_);
  field = std::move(value);
}

void GVInterface::logOut() {
  std::lock_guard lock(operationMutex_);
  logOutLocked();
}

void GVInterface::logOutLocked() {
  if (!authToken_) return;
  replyBody({"GET", "/voice/account/signout", kUserAgentField, std::nullopt});
  Logger::log("Logout finished.");
  setSessionField(authToken_, std::nullopt);
}

// --- Form token, mobile cookie, account number ---

bool GVInterface::getRNRSE() {
  std::lock_guard lock(operationMutex_);
  return fetchFormTokenLocked();
}

bool GVInterface::fetchFormTokenLocked() {
  if (!authToken_) return false;
  setSessionField(rnrseToken_, std::nullopt);
  if (const auto body =
          replyBody({"GET", "/voice/request/unread", kAuthorizationField, std::nullopt})) {
    Logger::logData("rnrse token response obtained \n%@", *body);
    const Text token = valueInReply("\"r\":\"", *body, '"');
    if (token) {
      setSessionField(rnrseToken_, percentEscaped(*token));
      Logger::log("rnrse token: %@", rnrseToken_);
      return true;
    }
  }
  Logger::log("rnrse token not found");
  return false;
}

bool GVInterface::getGVXCookie() {
  std::lock_guard lock(operationMutex_);
  return fetchGvxCookieLocked();
}

bool GVInterface::fetchGvxCookieLocked() {
  if (!authToken_) return false;
  setSessionField(gvxCookie_, std::nullopt);
  const std::string path = platform::format("%@?initialauth&pli=1", kMobileBasePath);
  if (!replyBody({"GET", path, kAuthorizationField | kUserAgentField, std::nullopt})) return false;
  Logger::log("GVX response obtained, looking for the cookie");
  for (const auto& cookie : platform::httpClient().cookies()) {
    if (cookie.name != "gvx") continue;
    Logger::log("GVX cookie found: %@", cookie.value);
    setSessionField(gvxCookie_, cookie.value);
    return true;
  }
  Logger::log("GVX cookie not found");
  return false;
}

bool GVInterface::getGVNumberOnline() {
  std::lock_guard lock(operationMutex_);
  return fetchAccountNumberLocked();
}

bool GVInterface::fetchAccountNumberLocked() {
  if (!authToken_) return false;
  gvPhoneNumber_.reset();
  const auto body = replyBody({"GET", "/voice/b/0/m/billing", kAuthorizationField, std::nullopt});
  if (!body) return false;
  Logger::logData("Get GV Number response:\n%@\n", *body);
  gvPhoneNumber_ =
      CommonUtils::toCanonicalPhoneNumber(valueInReply("<b class=\"ms3\">", *body, '<'));
  const Text balance =
      valueInReply("color: #17A245; font-size: 16px; font-weight: bold;\">", *body, 0);
  setGVBalance(balance);
  Logger::log("GV Phone number found: %@ balance %@", gvPhoneNumber_, balance);
  return gvPhoneNumber_.has_value();
}

Text GVInterface::gvPhoneNumber() {
  std::lock_guard lock(operationMutex_);
  return accountNumberLocked();
}

Text GVInterface::accountNumberLocked() {
  if (gvPhoneNumber_) return gvPhoneNumber_;
  if (!fetchAccountNumberLocked() && signInLocked()) fetchAccountNumberLocked();
  return gvPhoneNumber_;
}

Text GVInterface::offlineGVPhoneNumber() {
  if (!useDataforAccessNumbers()) return std::nullopt;
  std::lock_guard lock(operationMutex_);
  return accountNumberLocked();
}

// --- Fields ---

Text GVInterface::gvBalance() const {
  std::lock_guard lock(fieldsMutex_);
  return gvBalance_;
}

Text GVInterface::iPhoneNumber() const {
  std::lock_guard lock(fieldsMutex_);
  return iPhoneNumber_;
}

Text GVInterface::callbackNumber() const {
  std::lock_guard lock(fieldsMutex_);
  return callbackNumber_;
}

bool GVInterface::isiPhoneNumberValid() const {
  std::lock_guard lock(fieldsMutex_);
  return isiPhoneNumberValid_;
}

bool GVInterface::isCallbackNumberValid() const {
  std::lock_guard lock(fieldsMutex_);
  return isCallbackNumberValid_;
}

bool GVInterface::useGoogleTalk() const {
  std::lock_guard lock(fieldsMutex_);
  return useGoogleTalk_;
}

bool GVInterface::callThisPhone() const {
  std::lock_guard lock(fieldsMutex_);
  return callThisPhone_;
}

bool GVInterface::useDataforAccessNumbers() const {
  std::lock_guard lock(fieldsMutex_);
  return useDataforAccessNumbers_;
}

Text GVInterface::authToken() const {
  std::lock_guard lock(fieldsMutex_);
  return authToken_;
}

Text GVInterface::rnrseToken() const {
  std::lock_guard lock(fieldsMutex_);
  return rnrseToken_;
}

Text GVInterface::gvxCookie() const {
  std::lock_guard lock(fieldsMutex_);
  return gvxCookie_;
}

Text GVInterface::phoneType() const {
  std::lock_guard lock(fieldsMutex_);
  return phoneType_;
}

void GVInterface::setUserName(const Text& userName) {
  std::lock_guard lock(fieldsMutex_);
  userName_ = userName;
}

void GVInterface::setPassword(const Text& password) {
  std::lock_guard lock(fieldsMutex_);
  password_ = password;
}

void GVInterface::setGVBalance(const Text& balance) {
  std::lock_guard lock(fieldsMutex_);
  gvBalance_ = balance;
}

void GVInterface::setUseGoogleTalk(bool useGoogleTalk) {
  std::lock_guard lock(fieldsMutex_);
  useGoogleTalk_ = useGoogleTalk;
}

void GVInterface::setUseDataforAccessNumbers(bool useData) {
  std::lock_guard lock(fieldsMutex_);
  useDataforAccessNumbers_ = useData;
}

void GVInterface::setiPhoneNumber(const Text& number) {
  std::lock_guard lock(fieldsMutex_);
  iPhoneNumber_ =
      CommonUtils::allSpaces(number) ? std::nullopt : CommonUtils::toCanonicalPhoneNumber(number);
  isiPhoneNumberValid_ = CommonUtils::isUSPhoneNumber(iPhoneNumber_);
}

void GVInterface::setCallbackNumber(const Text& number) {
  std::lock_guard lock(fieldsMutex_);
  if (useGoogleTalk_) {
    // Without a user name there is no chat address to ring.
    callbackNumber_.reset();
    if (userName_) {
      const bool hasDomain = userName_->find('@') != std::string::npos;
      callbackNumber_ =
          percentEscaped(hasDomain ? *userName_ : *userName_ + "@" + std::string(kMailDomain));
    }
    callThisPhone_ = false;
    isCallbackNumberValid_ = callbackNumber_.has_value();
    phoneType_ = "9";
    return;
  }
  phoneType_ = "";
  if (CommonUtils::allSpaces(number)) {
    callbackNumber_ = isiPhoneNumberValid_ ? iPhoneNumber_ : std::nullopt;
  } else {
    callbackNumber_ = CommonUtils::toCanonicalPhoneNumber(number);
  }
  isCallbackNumberValid_ = CommonUtils::isUSPhoneNumber(callbackNumber_);
  callThisPhone_ = callbackNumber_.has_value() && callbackNumber_ == iPhoneNumber_;
}

}  // namespace pelorin
