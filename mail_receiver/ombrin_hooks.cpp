#include "mail_receiver/ombrin_hooks.h"

#include <atomic>
#include <exception>

#include "common/darwin_observer_redirect.h"
#include "common/local_observer_redirect.h"
#include "common/logger.h"
#include "common/names.h"
#include "incoming/incoming_message_handler.h"
#include "mail_receiver/ombrin_settings.h"
#include "platform/runtime.h"

namespace pelorin {
namespace {

using platform::MFMailMessageStore;
namespace runtime = platform::runtime;

using SetOrGetBodyPointer = runtime::TypedMethod<MFMailMessageStore::SetOrGetBody>::Pointer;

// The store's previous implementation, saved before the replacement is
// installed and only read afterwards.
std::atomic<SetOrGetBodyPointer> savedSetOrGetBody{nullptr};

void settingsChangedCallback(const std::string&) {
  OmbrinSettings::readSettings();
}

}  // namespace

bool OmbrinHooks::start() {
  OmbrinSettings::readSettings();
  const bool on = IncomingMessageHandler::sharedInstance().enableReceiveByMail();
  if (on) {
    DarwinObserverRedirect::addObserverwithCallback(&settingsChangedCallback,
                                                    kSettingsNotification);
    LocalObserverRedirect::addObserverwithObjectsCallback(&OmbrinHooks::messagesAdded,
                                                          kMailMessageStoreMessagesAdded);
    installHooks();
  }
  Logger::log("Finished Ombrin Init");
  return on;
}

bool OmbrinHooks::installHooks() {
  auto method = runtime::TypedMethod<MFMailMessageStore::SetOrGetBody>::find(
      MFMailMessageStore::kClassName, MFMailMessageStore::kSetOrGetBodySelector);
  if (!method || method->implementation() == &OmbrinHooks::setOrGetBody) return false;
  method->hook(&OmbrinHooks::setOrGetBody, savedSetOrGetBody);
  return true;
}

void OmbrinHooks::messagesAdded(const std::string&, const platform::Dictionary&,
                                const platform::NotificationObjects& objects) {
  try {
    IncomingMessageHandler::sharedInstance().handleMailMessageStorage(objects);
  } catch (const std::exception&) {
    // The store's notification goes on to its other observers regardless.
  }
}

std::shared_ptr<platform::MFMimeBody> OmbrinHooks::setOrGetBody(
    MFMailMessageStore& self, const std::shared_ptr<platform::MFMimeBody>& body,
    const std::shared_ptr<platform::MFMailMessage>& message, bool updateFlags) {
  try {
    IncomingMessageHandler::sharedInstance().processMailMessage(message, body);
  } catch (const std::exception&) {
    // Whatever failed here, the store's own work must still happen.
  }
  return savedSetOrGetBody.load(std::memory_order_acquire)(self, body, message, updateFlags);
}

}  // namespace pelorin
