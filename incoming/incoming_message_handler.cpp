#include "incoming/incoming_message_handler.h"

#include "common/common_utils.h"
#include "common/logger.h"
#include "common/names.h"
#include "incoming/contact_cache.h"
#include "incoming/incoming_distributed_message_handler.h"
#include "outgoing/auto_rule_handler.h"
#include "platform/clock.h"
#include "platform/guid.h"
#include "platform/messaging/imd_account_controller.h"
#include "platform/notification_center.h"
#include "platform/utf16.h"
#include "voice/gv_interface.h"

namespace pelorin {
namespace {

constexpr std::string_view kGVDialerTopic = "com.google.GVDialer";
constexpr std::string_view kTextFromPrefix = "Text from ";
constexpr std::string_view kAlertSeparator = ":\n";
constexpr std::string_view kNoSender = "10000000000";
constexpr std::string_view kBodySeparator = " - ";
// The sender's country code of every message this handler builds.
constexpr std::string_view kSenderCountryCode = "1";
constexpr std::uint8_t kOneToOneChatStyle = 45;  // '-'

Text textEntry(const platform::Dictionary& dictionary, std::string_view key) {
  auto it = dictionary.find(std::string(key));
  if (it == dictionary.end()) return std::nullopt;
  if (const auto* text = it->second.asString()) return *text;
  return std::nullopt;
}

std::shared_ptr<platform::CTPhoneNumber> senderNumber(const Text& digits) {
  return platform::CTPhoneNumber::phoneNumberWithDigits(digits, std::string(kSenderCountryCode));
}

platform::Dictionary recordOf(const Text& text, const Text& sender) {
  platform::Dictionary record;
  if (text) record.emplace(std::string(kSMSTextMessageKey), *text);
  if (sender) record.emplace(std::string(kSMSSenderPhoneKey), *sender);
  return record;
}

}  // namespace

IncomingMessageHandler& IncomingMessageHandler::sharedInstance() {
  static auto* instance = new IncomingMessageHandler;
  return *instance;
}

// ---- Push ----

bool IncomingMessageHandler::handleGVPushNotification(const platform::APSIncomingMessage& message) {
  if (!enableReceiveOfficialGV()) return false;
  Logger::log("SBRemoteNotificationServer:didReceiveIncomingMessage");
  if (!message.topic() || !message.userInfo() || *message.topic() != kGVDialerTopic) return false;
  auto aps = message.userInfo()->find("aps");
  if (aps == message.userInfo()->end()) return false;
  const auto* apsDictionary = aps->second.asDictionary();
  if (apsDictionary == nullptr) return false;
  auto alertValue = apsDictionary->find("alert");
  if (alertValue == apsDictionary->end()) return false;
  // A text alert is written as it is; a structured one (a dictionary) by its
  // description, and it is no text banner: the platform shows it.
  const auto* alert = alertValue->second.asString();
  if (alert != nullptr) {
    Logger::log("%@\n%@\n", "Push alert received", *alert);
  } else {
    Logger::log("%@\n%@\n", "Push alert received", alertValue->second);
  }
  if (alert == nullptr || alert->rfind(kTextFromPrefix, 0) != 0) return false;

  Text sender;
  Text text;
  const auto separator = alert->find(kAlertSeparator);
  if (separator != std::string::npos) {
    sender = alert->substr(kTextFromPrefix.size(), separator - kTextFromPrefix.size());
    text = alert->substr(separator + kAlertSeparator.size());
  } else {
    sender = std::string(kNoSender);
    text = alert->substr(kTextFromPrefix.size());
  }
  if (!centreClient().sendSMSMessage(text, sender)) return false;
  Logger::log("Notification sent text message %@ sender %@", text, sender);
  return true;
}

// ---- Received-SMS records in the daemon ----

IncomingMessageHandler::ReceivedSMS IncomingMessageHandler::recordFields(
    const platform::Dictionary& record) {
  return {textEntry(record, kSMSTextMessageKey), textEntry(record, kSMSSenderPhoneKey)};
}

void IncomingMessageHandler::handleReceivedSMSforMessage(const std::string& /*messageName*/,
                                                         const platform::Dictionary& record) {
  const auto resolved =
      resolvedRecord(record, [this](const Text& name) { return numberForName(name); });
  if (resolved) deliverReceivedSMS(*resolved);
}

std::optional<platform::Dictionary> IncomingMessageHandler::resolvedRecord(
    const platform::Dictionary& record, const SenderLookup& lookUp) {
  auto [text, sender] = recordFields(record);
  Logger::log("Notification received for sender %@", sender);
  if (!text) {
    Logger::log("Dropped a received record without a text");
    return std::nullopt;
  }
  if (!CommonUtils::isNumberValidforSMS(sender)) {
    sender = lookUp(sender);
    Logger::log("Found the sender phone %@ with text message %@", sender, text);
  }
  return recordOf(text, sender);
}

bool IncomingMessageHandler::needsSenderLookup(const platform::Dictionary& record) {
  const auto [text, sender] = recordFields(record);
  return text && !CommonUtils::isNumberValidforSMS(sender);
}

Text IncomingMessageHandler::numberForName(const Text& name) {
  return contacts().convertToPhoneNumber(name);
}

void IncomingMessageHandler::deliverReceivedSMS(const platform::Dictionary& record) {
  if (isAniPhone()) {
    processasSMS(record);
  } else {
    processasiMsg(record);
  }
  autoRules().addRecipient(recordFields(record).sender);
}

void IncomingMessageHandler::processasSMS(const platform::Dictionary& record) {
  std::uint32_t id = 0;
  {
    std::lock_guard lock(recvdMessageLock_);
    id = nextInjectedId_;
    // After the last id the counter comes round to the first injected id
    // again, never into the carrier's range.
    nextInjectedId_ = id == UINT32_MAX ? kFirstInjectedId : id + 1;
    if (recvdMessageList_.size() >= kMaxWaitingRecords) recvdMessageList_.pop_front();
    recvdMessageList_.emplace_back(id, recordFields(record));
  }
  platform::localNotifyCenter().postNotification(
      std::string(kCTMessageReceivedNotification),
      {{std::string(kCTMessageTypeKey), platform::CTMessage::kPlainSMSType},
       {std::string(kCTMessageIdKey), id}});
}

std::shared_ptr<platform::CTMessage> IncomingMessageHandler::processIncomingMessage(
    std::uint32_t messageId) {
  if (messageId < kFirstInjectedId) return nullptr;
  ReceivedSMS record;
  {
    std::lock_guard lock(recvdMessageLock_);
    auto it = recvdMessageList_.begin();
    while (it != recvdMessageList_.end() && it->first != messageId) ++it;
    if (it == recvdMessageList_.end()) {
      Logger::log("Mismatch between the message id and received message list");
      return nullptr;
    }
    record = std::move(it->second);
    recvdMessageList_.erase(it);
  }
  const Text text = withSignature(record.text);
  Logger::log("Processed GV incoming message %@ from sender %@ as SMS", text, record.sender);
  auto message = std::make_shared<platform::CTMessage>();
  message->addText(text);
  message->setSender(senderNumber(record.sender));
  message->setMessageId(messageId);
  message->setMessageType(platform::CTMessage::kPlainSMSType);
  return message;
}

void IncomingMessageHandler::processasiMsg(const platform::Dictionary& record) {
  const auto fields = recordFields(record);
  const Text text = withSignature(fields.text);
  Logger::log("Processed GV incoming message %@ from sender %@ as iMessage", text, fields.sender);
  auto* controller = platform::IMDAccountController::sharedAccountController();
  auto session = controller ? controller->anySessionForServiceName(
                                  std::string(platform::IMDServiceSession::kiMessageService))
                            : nullptr;
  if (!session) return;
  Logger::log("Creating FZMessage from GV incoming message for iMessage");
  auto message = platform::FZMessage::initWithSender(
      fields.sender, platform::currentDate(), text, std::nullopt, {}, 1, 0, platform::stringGUID());
  Logger::log("Finished creating FZMessage from GV incoming message for iMessage\n%@",
              message->description());
  const Text chat = CommonUtils::isNumberValidforSMS(fields.sender)
                        ? CommonUtils::toInternationalPhoneNumber(fields.sender)
                        : fields.sender;
  session->didReceiveMessage(message, chat, kOneToOneChatStyle);
}

// ---- Carrier SMS forwarded from an access number ----

void IncomingMessageHandler::modifyMessageifGV(platform::CTMessage& message) {
  if (enableReceiveByMail() || enableReceiveOfficialGV()) return;
  if (message.items().empty()) return;
  const Text access = CommonUtils::toCanonicalPhoneNumber(
      message.sender() ? message.sender()->canonicalFormat() : std::nullopt);
  const auto& bytes = message.items().front().data();
  Text body = std::string(bytes.begin(), bytes.end());
  if (!platform::isValidUtf8(*body)) body = std::nullopt;  // as the phone's decoding gives nil
  const Text target = access ? accessNumbers().targetNumber(access) : std::nullopt;

  const auto separator = body ? body->find(kBodySeparator) : std::string::npos;
  Text prefix;
  if (separator != std::string::npos) prefix = body->substr(0, separator);
  const bool valid = CommonUtils::isNumberValidforSMS(prefix);

  if (!valid) {
    if (target) {
      Logger::log(
          "Found the target phone %@ with sender access number %@ with text message "
          "fragment %@",
          target, access, body);
      message.setSender(senderNumber(target));
      autoRules().addRecipient(target);
    }
    // Without a prefix there is no name to look up: skip the page fetch.
    if (!prefix) return;
    prefix = contacts().convertToPhoneNumber(prefix);
    if (!CommonUtils::isNumberValidforSMS(prefix)) return;
  }

  const Text text = withSignature(body->substr(separator + kBodySeparator.size()));
  message.removePartAtIndex(0);
  message.addText(text);
  if (valid || !target) {
    Logger::log("Found the sender phone %@ with sender access number %@ and text message %@",
                prefix, access, text);
    message.setSender(senderNumber(prefix));
    autoRules().addRecipient(prefix);
  }
  if (valid && target != prefix) {
    const Text canonical = CommonUtils::toCanonicalPhoneNumber(prefix);
    accessNumbers().addAccessNumber(access, canonical);
    Logger::log("Access number %@ for target number %@ added to the cache", access, canonical);
  }
}

// ---- Settings and collaborators ----

Text IncomingMessageHandler::withSignature(const Text& text) const {
  const Text signature = recvSignature();
  if (!text || !signature || signature->empty()) return text;
  return *text + "\n" + *signature;
}

void IncomingMessageHandler::setRecvSignature(const Text& signature) {
  std::lock_guard lock(textSettingsLock_);
  recvSignature_ = signature;
}

Text IncomingMessageHandler::recvSignature() const {
  std::lock_guard lock(textSettingsLock_);
  return recvSignature_;
}

void IncomingMessageHandler::setRecvMailAccount(const Text& account) {
  std::lock_guard lock(textSettingsLock_);
  recvMailAccount_ = account;
}

Text IncomingMessageHandler::recvMailAccount() const {
  std::lock_guard lock(textSettingsLock_);
  return recvMailAccount_;
}

void IncomingMessageHandler::setRecvMailLabel(const Text& label) {
  std::lock_guard lock(textSettingsLock_);
  recvMailLabel_ = label;
}

Text IncomingMessageHandler::recvMailLabel() const {
  std::lock_guard lock(textSettingsLock_);
  return recvMailLabel_;
}

ContactCache& IncomingMessageHandler::contacts() const {
  return collaborators_.contacts ? *collaborators_.contacts : ContactCache::sharedInstance();
}

AccessNumberCache& IncomingMessageHandler::accessNumbers() const {
  return collaborators_.accessNumbers ? *collaborators_.accessNumbers
                                      : GVInterface::sharedInstance().accessNumberCache();
}

AutoRuleHandler& IncomingMessageHandler::autoRules() const {
  return collaborators_.autoRules ? *collaborators_.autoRules : AutoRuleHandler::sharedInstance();
}

IncomingDistributedMessageHandler& IncomingMessageHandler::centreClient() const {
  return collaborators_.centreClient ? *collaborators_.centreClient
                                     : IncomingDistributedMessageHandler::sharedClient();
}

}  // namespace pelorin
