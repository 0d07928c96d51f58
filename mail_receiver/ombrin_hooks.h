#pragma once

#include <memory>

#include "platform/mail/mf_mail_message_store.h"
#include "platform/notification_center.h"

namespace pelorin {

// Ombrin's start-up and its replacement of the mail store's body setter.
// Everything set up here lasts as long as the process.
class OmbrinHooks {
 public:
  // The start-up routine, run once when the library is loaded: reads the
  // settings and, only when mail receiving is then on, subscribes to the
  // settings notification and the store's new-messages notification and
  // replaces the store's body setter (when the store has it). Returns
  // whether anything was installed.
  static bool start();

  // Replaces the store's body setter unless this library already did;
  // false when the store or the method is missing.
  static bool installHooks();

  // The new-messages callback: the notification's messages to the handler.
  static void messagesAdded(const std::string& name, const platform::Dictionary& userInfo,
                            const platform::NotificationObjects& objects);

  // The replacement: the handler sees the body first, then the store does its
  // own work with the same arguments, and its result is returned unchanged.
  static std::shared_ptr<platform::MFMimeBody> setOrGetBody(
      platform::MFMailMessageStore& self, const std::shared_ptr<platform::MFMimeBody>& body,
      const std::shared_ptr<platform::MFMailMessage>& message, bool updateFlags);
};

}  // namespace pelorin
