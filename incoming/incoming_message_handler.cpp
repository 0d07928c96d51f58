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

Text IncomingMessageHandler::recvSignature() const {
  std::lock_guard lock(textSettingsLock_);
  return recvSignature_;
}

}  // namespace pelorin
