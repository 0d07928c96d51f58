#include "incoming/incoming_distributed_message_handler.h"

namespace pelorin {

IncomingDistributedMessageHandler& IncomingDistributedMessageHandler::sharedSever() {
  static auto* server = new IncomingDistributedMessageHandler;
  return *server;
}

void IncomingDistributedMessageHandler::registerForSMSRecvd() {}

}  // namespace pelorin
