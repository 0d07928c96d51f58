#pragma once

#include <memory>

#include "platform/chatkit/ck_conversation.h"

namespace pelorin {

// Pelorin7's start-up and its replacements of the Messages application's two
// conversation sends. The replacements only log what kind of message leaves
// and pass every call on unchanged. Everything set up here lasts as long as
// the process.
class Pelorin7Hooks {
 public:
  // The start-up routine, run once when the library is loaded: applies the
  // settings file's "enableLogging" when present, then turns logging on
  // regardless, and replaces the sends the application has.
  static void start();

  // Replaces, where CKConversation has them, sendMessage:newComposition: and
  // then sendMessage:onService:newComposition:; a missing class or method is
  // skipped quietly, and one already replaced by this library is not
  // replaced again. Returns how many are replaced now.
  static int installHooks();

  // The replacements, as the runtime calls them. Each returns exactly what
  // the saved implementation returned.
  static bool sendMessage(platform::CKConversation& self,
                          const std::shared_ptr<platform::CKMessage>& message, bool newComposition);
  static bool sendMessage(platform::CKConversation& self,
                          const std::shared_ptr<platform::CKMessage>& message,
                          const std::shared_ptr<platform::CKService>& service, bool newComposition);
};

}  // namespace pelorin
