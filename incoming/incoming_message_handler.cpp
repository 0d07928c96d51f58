#include "incoming/incoming_message_handler.h"

namespace pelorin {

IncomingMessageHandler& IncomingMessageHandler::sharedInstance() {
  static auto* instance = new IncomingMessageHandler;
  return *instance;
}

void IncomingMessageHandler::setRecvSignature(const Text& signature) {
  std::lock_guard lock(textSettingsLock_);
  recvSignature_ = signature;
}

std::shared_ptr<platform::CTMessage> IncomingMessageHandler::processIncomingMessage(
    std::uint32_t /*messageId*/) {
  return nullptr;  // no injected messages yet
}

void IncomingMessageHandler::modifyMessageifGV(platform::CTMessage& /*message*/) {}

Text IncomingMessageHandler::recvSignature() const {
  std::lock_guard lock(textSettingsLock_);
  return recvSignature_;
}

}  // namespace pelorin
