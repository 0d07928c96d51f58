#include "platform/messaging/imd_service_session.h"

#include "platform/runtime.h"

namespace pelorin::platform {
namespace {

runtime::MethodSlot<IMDServiceSession::SendMessage> sendMessageSlot;

}  // namespace

void IMDServiceSession::sendMessage(const std::shared_ptr<FZMessage>& message, const Text& toChatID,
                                    const Text& identifier, std::uint8_t style) {
  sendMessageSlot.call(&originalSendMessage, *this, message, toChatID, identifier, style);
}

void IMDServiceSession::registerWithRuntime(const SelectorFilter& offers) {
  if (!offers || offers(kSendMessageSelector)) {
    sendMessageSlot.registerIn(kClassName, kSendMessageSelector, &originalSendMessage);
  }
}

void IMDServiceSession::originalSendMessage(IMDServiceSession& self,
                                            const std::shared_ptr<FZMessage>& message,
                                            const Text& chatID, const Text& identifier,
                                            std::uint8_t style) {
  self.platformSendMessage(message, chatID, identifier, style);
}

}  // namespace pelorin::platform
