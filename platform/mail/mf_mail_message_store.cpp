#include "platform/mail/mf_mail_message_store.h"

#include "platform/runtime.h"

namespace pelorin::platform {
namespace {

runtime::MethodSlot<MFMailMessageStore::SetOrGetBody> setOrGetBodySlot;

}  // namespace

std::shared_ptr<MFMimeBody> MFMailMessageStore::setOrGetBody(
    const std::shared_ptr<MFMimeBody>& body, const std::shared_ptr<MFMailMessage>& message,
    bool updateFlags) {
  return setOrGetBodySlot.call(&originalSetOrGetBody, *this, body, message, updateFlags);
}

void MFMailMessageStore::registerWithRuntime(bool offered) {
  if (!offered) return;
  setOrGetBodySlot.registerIn(kClassName, kSetOrGetBodySelector, &originalSetOrGetBody);
}

std::shared_ptr<MFMimeBody> MFMailMessageStore::originalSetOrGetBody(
    MFMailMessageStore& self, const std::shared_ptr<MFMimeBody>& body,
    const std::shared_ptr<MFMailMessage>& message, bool updateFlags) {
  return self.platformSetOrGetBody(body, message, updateFlags);
}

}  // namespace pelorin::platform
