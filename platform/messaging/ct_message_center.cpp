#include "platform/messaging/ct_message_center.h"

#include "platform/runtime.h"

namespace pelorin::platform {
namespace {

runtime::MethodSlot<CTMessageCenter::SendSMS> sendSMSSlot;
runtime::MethodSlot<CTMessageCenter::IncomingMessageWithId> incomingSlot;

}  // namespace

bool CTMessageCenter::sendSMS(const std::shared_ptr<CTMessage>& message, bool moreToFollow) {
  return sendSMSSlot.call(&originalSendSMS, *this, message, moreToFollow);
}

std::shared_ptr<CTMessage> CTMessageCenter::incomingMessageWithId(std::uint32_t messageId) {
  return incomingSlot.call(&originalIncomingMessageWithId, *this, messageId);
}

void CTMessageCenter::registerWithRuntime(const SelectorFilter& offers) {
  if (!offers || offers(kSendSMSSelector)) {
    sendSMSSlot.registerIn(kClassName, kSendSMSSelector, &originalSendSMS);
  }
  if (!offers || offers(kIncomingMessageWithIdSelector)) {
    incomingSlot.registerIn(kClassName, kIncomingMessageWithIdSelector,
                            &originalIncomingMessageWithId);
  }
}

bool CTMessageCenter::originalSendSMS(CTMessageCenter& self,
                                      const std::shared_ptr<CTMessage>& message,
                                      bool moreToFollow) {
  return self.platformSendSMS(message, moreToFollow);
}

std::shared_ptr<CTMessage> CTMessageCenter::originalIncomingMessageWithId(CTMessageCenter& self,
                                                                          std::uint32_t messageId) {
  return self.platformIncomingMessageWithId(messageId);
}

}  // namespace pelorin::platform
