#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "platform/aps_incoming_message.h"
#include "platform/springboard/aps_connection.h"

namespace pelorin::platform {

// The home screen's receiver of push messages. The home-screen host
// implements platformConnection() (its own handling: the banner); everybody
// calls connection(), which dispatches through the object runtime once the
// host registered the class, so a tweak's replacement sees every push.
class SBRemoteNotificationServer {
 public:
  static constexpr std::string_view kClassName = "SBRemoteNotificationServer";
  static constexpr std::string_view kDidReceiveIncomingMessageSelector =
      "connection:didReceiveIncomingMessage:";

  // The C++ type of the replaceable method, receiver first. The message is
  // shared so that a replacement may keep it beyond the call.
  using DidReceiveIncomingMessage = void(SBRemoteNotificationServer&, APSConnection&,
                                         const std::shared_ptr<const APSIncomingMessage>&);

  SBRemoteNotificationServer() = default;
  SBRemoteNotificationServer(const SBRemoteNotificationServer&) = delete;
  SBRemoteNotificationServer& operator=(const SBRemoteNotificationServer&) = delete;
  virtual ~SBRemoteNotificationServer() = default;

  // A push arrived on `connection`.
  void connection(APSConnection& connection,
                  const std::shared_ptr<const APSIncomingMessage>& message);

  // Hosts, at start and before loading tweaks: registers the class and its
  // method with the runtime. When `offered` is false the method is not
  // registered: tweaks find nothing to replace.
  static void registerWithRuntime(bool offered = true);

 protected:
  virtual void platformConnection(APSConnection& connection,
                                  const std::shared_ptr<const APSIncomingMessage>& message) = 0;

 private:
  static void originalConnection(SBRemoteNotificationServer& self, APSConnection& connection,
                                 const std::shared_ptr<const APSIncomingMessage>& message);
};

}  // namespace pelorin::platform
