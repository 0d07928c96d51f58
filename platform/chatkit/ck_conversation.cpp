#include "platform/chatkit/ck_conversation.h"

#include "platform/runtime.h"

namespace pelorin::platform {
namespace {

runtime::MethodSlot<CKConversation::SendMessage> sendMessageSlot;
runtime::MethodSlot<CKConversation::SendMessageOnService> sendOnServiceSlot;

}  // namespace

bool CKConversation::sendMessage(const std::shared_ptr<CKMessage>& message, bool newComposition) {
  return sendMessageSlot.call(&originalSendMessage, *this, message, newComposition);
}

bool CKConversation::sendMessage(const std::shared_ptr<CKMessage>& message,
                                 const std::shared_ptr<CKService>& service, bool newComposition) {
  return sendOnServiceSlot.call(&originalSendMessageOnService, *this, message, service,
                                newComposition);
}

void CKConversation::registerWithRuntime(const SelectorFilter& offers) {
  if (!offers || offers(kSendMessageSelector)) {
    sendMessageSlot.registerIn(kClassName, kSendMessageSelector, &originalSendMessage);
  }
  if (!offers || offers(kSendMessageOnServiceSelector)) {
    sendOnServiceSlot.registerIn(kClassName, kSendMessageOnServiceSelector,
                                 &originalSendMessageOnService);
  }
}

bool CKConversation::originalSendMessage(CKConversation& self,
                                         const std::shared_ptr<CKMessage>& message,
                                         bool newComposition) {
  return self.platformSendMessage(message, newComposition);
}

bool CKConversation::originalSendMessageOnService(CKConversation& self,
                                                  const std::shared_ptr<CKMessage>& message,
                                                  const std::shared_ptr<CKService>& service,
                                                  bool newComposition) {
  return self.platformSendMessageOnService(message, service, newComposition);
}

}  // namespace pelorin::platform
