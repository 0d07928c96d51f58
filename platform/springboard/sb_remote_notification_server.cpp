#include "platform/springboard/sb_remote_notification_server.h"

#include "platform/runtime.h"

namespace pelorin::platform {
namespace {

runtime::MethodSlot<SBRemoteNotificationServer::DidReceiveIncomingMessage> connectionSlot;

}  // namespace

void SBRemoteNotificationServer::connection(
    APSConnection& connection, const std::shared_ptr<const APSIncomingMessage>& message) {
  connectionSlot.call(&originalConnection, *this, connection, message);
}

void SBRemoteNotificationServer::registerWithRuntime(bool offered) {
  if (!offered) return;
  connectionSlot.registerIn(kClassName, kDidReceiveIncomingMessageSelector, &originalConnection);
}

void SBRemoteNotificationServer::originalConnection(
    SBRemoteNotificationServer& self, APSConnection& connection,
    const std::shared_ptr<const APSIncomingMessage>& message) {
  self.platformConnection(connection, message);
}

}  // namespace pelorin::platform
