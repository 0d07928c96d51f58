#pragma once

#include <cstdint>
#include <memory>

#include "platform/messaging/ct_message_center.h"
#include "platform/messaging/imd_service_session.h"

namespace pelorin {

// Quenlow's start-up and its replacements of the messaging daemon's three
// methods. Everything set up here lasts as long as the process.
class QuenlowHooks {
 public:
  // The start-up routine, run once when the library is loaded: reads the
  // settings, subscribes to the change notifications, replaces the methods
  // the daemon has, enables the access-number cache and serves the
  // received-SMS centre on the calling thread.
  static void start();

  // Subscribes the four change callbacks (settings, contacts cache, send
  // rules, access-number cache).
  static void subscribe();

  // Replaces, where the daemon has them, the carrier centre's send and lookup
  // and the chat session's send. A method already replaced by this library
  // is not replaced again. Returns how many are replaced now.
  static int installHooks();

  // The replacements, as the runtime calls them.
  static bool sendSMS(platform::CTMessageCenter& self,
                      const std::shared_ptr<platform::CTMessage>& message, bool moreToFollow);
  static std::shared_ptr<platform::CTMessage> incomingMessageWithId(platform::CTMessageCenter& self,
                                                                    std::uint32_t messageId);
  static void sendMessage(platform::IMDServiceSession& self,
                          const std::shared_ptr<platform::FZMessage>& message, const Text& chatID,
                          const Text& identifier, std::uint8_t style);
};

}  // namespace pelorin
