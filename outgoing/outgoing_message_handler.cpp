#include "outgoing/outgoing_message_handler.h"

#include "common/common_utils.h"
#include "common/local_observer_redirect.h"
#include "common/logger.h"
#include "common/names.h"
#include "incoming/incoming_message_handler.h"
#include "outgoing/auto_rule_handler.h"
#include "outgoing/recipient_processor.h"
#include "outgoing/send_i_msg_thread.h"
#include "outgoing/send_sms_thread.h"
#include "platform/messaging/imd_account_controller.h"
#include "platform/utf16.h"
#include "voice/gv_interface.h"

namespace pelorin {
namespace {

using platform::CTMessage;
using platform::FZMessage;
using platform::IMDChat;

constexpr std::string_view kSMSService = platform::IMDServiceSession::kSMSService;
constexpr std::string_view kiMessageService = platform::IMDServiceSession::kiMessageService;

// A chat message the iMessage or SMS path may decide: of `service`, sent in a
// chat of `service`, with text and without attachments.
bool isPlainTextOf(const FZMessage& message, const IMDChat& chat, std::string_view service) {
  return message.service() == service && chat.serviceName() == service && !message.isEmpty() &&
         message.fileTransferGUIDs().empty();
}

}  // namespace

OutgoingMessageHandler& OutgoingMessageHandler::sharedInstance() {
  static auto* const handler = new OutgoingMessageHandler(
      {.rulesFile = std::nullopt,
       .autoRuleHandler = &AutoRuleHandler::sharedInstance(),
       .incomingMessageHandler = &IncomingMessageHandler::sharedInstance(),
       .gvInterface = &GVInterface::sharedInstance()});
  return *handler;
}

OutgoingMessageHandler::OutgoingMessageHandler(const Dependencies& dependencies)
    : sendRuleHandler_(dependencies.rulesFile ? SendRuleHandler(*dependencies.rulesFile)
                                              : SendRuleHandler()),
      autoRuleHandler_(dependencies.autoRuleHandler),
      incomingMessageHandler_(dependencies.incomingMessageHandler),
      gvInterface_(dependencies.gvInterface) {}

void OutgoingMessageHandler::setSendSignature(const Text& signature) {
  std::lock_guard lock(sendSignatureLock_);
  sendSignature_ = signature;
}

Text OutgoingMessageHandler::sendSignature() const {
  std::lock_guard lock(sendSignatureLock_);
  return sendSignature_;
}

std::string OutgoingMessageHandler::withSignature(std::string text) const {
  std::lock_guard lock(sendSignatureLock_);
  if (sendSignature_ && !sendSignature_->empty()) {
    text += '\n';
    text += *sendSignature_;
  }
  return text;
}

void OutgoingMessageHandler::readSendRules() {
  sendRuleHandler_.readRuleFile();
}

bool OutgoingMessageHandler::isAniPhone() const {
  return incomingMessageHandler_->isAniPhone();
}

void OutgoingMessageHandler::addChatID(const Text& chatIdentifier) {
  if (!chatIdentifier) return;
  std::lock_guard lock(smsChatIDLock_);
  smsChatIDs_.insert(*chatIdentifier);
}

bool OutgoingMessageHandler::testAndRemoveChatID(const Text& chatIdentifier) {
  if (!chatIdentifier) return false;
  std::lock_guard lock(smsChatIDLock_);
  return smsChatIDs_.erase(*chatIdentifier) > 0;
}

SendMode OutgoingMessageHandler::sendModebyRules(const Text& number, SendMode defaultMode,
                                                 RuleDecision* decision) {
  RuleDecision local;
  RuleDecision& record = decision ? *decision : local;
  record = {};
  if (enableOmniDorvessa()) {
    record.source = RuleDecision::Source::OmniSend;
    return SendModeGoogleVoice;
  }
  if (!enableSendRules()) {
    record.source = RuleDecision::Source::RulesOff;
    return defaultMode;
  }
  SendRuleHandler::RuleMatch match = sendRuleHandler_.matchRule(number);
  if (match.mode != SendModeNoRule) {
    record.source = RuleDecision::Source::SendRule;
    record.ruleKey = std::move(match.key);
    return match.mode;
  }
  if (autoRuleHandler_->recipientFound(number)) {
    record.source = RuleDecision::Source::AutoRule;
    return SendModeGoogleVoice;
  }
  record.source = RuleDecision::Source::Default;
  return defaultMode;
}

bool OutgoingMessageHandler::processOutgoingSMS(const std::shared_ptr<CTMessage>& message,
                                                bool& returnValue) {
  if (!message || message->messageType() != CTMessage::kPlainSMSType ||
      message->items().size() != 1 || message->recipients().empty()) {
    return false;
  }
  RecipientProcessor processor(*this);
  SendMode mode = processor.handleRecipients(*message);
  Logger::log("SMS to be sent with final mode %d", mode);
  if (mode == SendModeCarrier) return false;

  returnValue = false;
  const platform::Data& bytes = message->items().front().data();
  std::string text(bytes.begin(), bytes.end());
  // A part that is not UTF-8 has no text to hand to the web service; rather
  // than send a placeholder, the send fails like an unroutable one.
  if (mode != SendModeFailed && !platform::isValidUtf8(text)) {
    Logger::log("SMS text is not UTF-8; the send fails");
    mode = SendModeFailed;
  }
  if (mode == SendModeFailed) {
    LocalObserverRedirect::postNotification(
        kCTMessageSendErrorNotification,
        {{std::string(kCTMessageTypeKey), CTMessage::kPlainSMSType},
         {std::string(kCTMessageIdKey), message->messageId()}});
    return true;
  }
  SendSMSThread::invokeWithDestination(message->recipients(), withSignature(std::move(text)),
                                       message->messageId(), *gvInterface_);
  return true;
}

SendMode OutgoingMessageHandler::sendModebyPhoneTypeforiMsg(const Text& participantID) {
  const PhoneNumberType type = CommonUtils::phoneNumberType(participantID);
  if (type == PhoneNumberTypeInvalid || type == PhoneNumberTypeSpecial) return SendModeCarrier;
  if (type == PhoneNumberTypeInternational && !enableIntliMsgDorvessa()) return SendModeCarrier;
  return sendModebyRules(CommonUtils::toCanonicalPhoneNumber(participantID),
                         isAniPhone() ? SendModeCarrier : SendModeGoogleVoice);
}

bool OutgoingMessageHandler::processOutgoingiMessage(const std::shared_ptr<FZMessage>& message,
                                                     const std::shared_ptr<IMDChat>& chat) {
  if (!message || !chat || !isPlainTextOf(*message, *chat, kiMessageService)) return false;
  const bool iPhone = isAniPhone();
  if (iPhone || !testAndRemoveChatID(chat->chatIdentifier())) {
    if (!enableiMessageRules()) return false;
    const auto participants = chat->participants();
    if (participants.empty()) return false;

    const Text firstID = participants.front() ? participants.front()->ID() : Text();
    const SendMode mode = sendModebyPhoneTypeforiMsg(firstID);
    Logger::log("iMessage to be sent to first phone %@ with mode %d", firstID, mode);
    if (mode == SendModeCarrier) return false;
    for (std::size_t i = 1; i < participants.size(); ++i) {
      const Text id = participants[i] ? participants[i]->ID() : Text();
      if (sendModebyPhoneTypeforiMsg(id) != mode) return false;
    }
    Logger::log("iMessage to be sent with final mode %d", mode);

    if (iPhone && (allGVasSMS() || gvSMSviaCarrier())) {
      Logger::log("Attempting to redirect iMessage to SMS");
      if (redirecttoAlternateSession(message, chat, std::string(kSMSService))) return true;
    }
  }
  return redirectiMessagetoGV(message, chat);
}

bool OutgoingMessageHandler::redirectSMStoiMessageforiPoad(
    const std::shared_ptr<FZMessage>& message, const std::shared_ptr<IMDChat>& chat) {
  if (isAniPhone()) return false;
  if (!message || !chat || !isPlainTextOf(*message, *chat, kSMSService) ||
      chat->participants().empty()) {
    return false;
  }
  Logger::log("Attempting to redirect SMS to iMessage");
  if (!redirecttoAlternateSession(message, chat, std::string(kiMessageService))) return false;
  addChatID(chat->chatIdentifier());
  return true;
}

bool OutgoingMessageHandler::redirecttoAlternateSession(const std::shared_ptr<FZMessage>& message,
                                                        const std::shared_ptr<IMDChat>& chat,
                                                        const std::string& altService) {
  auto* controller = platform::IMDAccountController::sharedAccountController();
  auto session = controller ? controller->anySessionForServiceName(altService) : nullptr;
  if (!session) {
    Logger::log("Could not find alternate service session to redirect");
    return false;
  }
  auto altChat = session->chatForChatIdentifier(chat->chatIdentifier(), chat->style());
  if (!altChat) {
    Logger::log("Could not find chat for the alternate session to redirect");
    return false;
  }
  if (Logger::sharedInstance().enableLogging()) {
    Logger::log("Alternate chat for service %@ has the details:\n%@", altChat->serviceName(),
                altChat->chatProperties());
  }
  message->setService(altService);
  session->sendMessage(message, altChat->guid(), altChat->chatIdentifier(), altChat->style());
  return true;
}

bool OutgoingMessageHandler::redirectiMessagetoGV(const std::shared_ptr<FZMessage>& message,
                                                  const std::shared_ptr<IMDChat>& chat) {
  // Marked sent before the worker starts, so that its delivery receipt or
  // error always comes after the mark and is never overwritten by it.
  if (auto session = chat->serviceSession()) {
    session->didSendMessage(message, chat->chatIdentifier(), chat->style());
  }
  SendiMsgThread::invokeForChat(chat, message, withSignature(message->body().value_or("")),
                                *gvInterface_);
  return true;
}

}  // namespace pelorin
