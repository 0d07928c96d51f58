#include "messages_hooks/pelorin7_hooks.h"

#include <atomic>
#include <string>

#include "common/logger.h"
#include "common/names.h"
#include "platform/property_list.h"
#include "platform/runtime.h"

namespace pelorin {
namespace {

using platform::CKConversation;
using platform::CKMessage;
using platform::CKService;
namespace runtime = platform::runtime;

using SendPointer = runtime::TypedMethod<CKConversation::SendMessage>::Pointer;
using SendOnServicePointer = runtime::TypedMethod<CKConversation::SendMessageOnService>::Pointer;

// The application's previous implementations, saved before each replacement
// is installed and only read afterwards.
std::atomic<SendPointer> savedSendMessage{nullptr};
std::atomic<SendOnServicePointer> savedSendOnService{nullptr};

// Installs `replacement` unless this library already did (a second call
// would save the replacement itself as the previous implementation).
template <class Signature, class Pointer>
bool replace(std::string_view selector, Pointer replacement, std::atomic<Pointer>& saved) {
  auto method = runtime::TypedMethod<Signature>::find(CKConversation::kClassName, selector);
  if (!method || method->implementation() == replacement) return false;
  method->hook(replacement, saved);
  return true;
}

}  // namespace

void Pelorin7Hooks::start() {
  if (const auto settings = platform::readDictionary(resolvedPath(kSettingsFile))) {
    auto it = settings->find(std::string(settings::kEnableLogging));
    if (it != settings->end()) Logger::sharedInstance().setEnableLogging(it->second.boolReading());
  }
  // The Messages application always logs, whatever the settings say.
  Logger::enable();
  installHooks();
}

int Pelorin7Hooks::installHooks() {
  int replaced = 0;
  replaced += replace<CKConversation::SendMessage, SendPointer>(
      CKConversation::kSendMessageSelector, &Pelorin7Hooks::sendMessage, savedSendMessage);
  replaced += replace<CKConversation::SendMessageOnService, SendOnServicePointer>(
      CKConversation::kSendMessageOnServiceSelector, &Pelorin7Hooks::sendMessage,
      savedSendOnService);
  return replaced;
}

bool Pelorin7Hooks::sendMessage(CKConversation& self, const std::shared_ptr<CKMessage>& message,
                                bool newComposition) {
  // A missing message has no kind to log; the platform decides what to do with it.
  if (message && message->isSMS()) {
    Logger::log("CKConversation_sendMessage_newComposition entered with SMS ");
  } else if (message && message->isiMessage()) {
    Logger::log("CKConversation_sendMessage_newComposition entered with iMessage ");
    if (message->isToEmailAddress()) Logger::log("Being sent to an email address");
    if (message->hasAttachments()) Logger::log("Not a simple text message");
  }
  return savedSendMessage.load(std::memory_order_acquire)(self, message, newComposition);
}

bool Pelorin7Hooks::sendMessage(CKConversation& self, const std::shared_ptr<CKMessage>& message,
                                const std::shared_ptr<CKService>& service, bool newComposition) {
  if (message && message->isSMS()) {
    Logger::log("CKConversation_sendMessage_onService_newComposition entered with SMS ");
  } else if (message && message->isiMessage()) {
    Logger::log("CKConversation_sendMessage_onService_newComposition entered with iMessage ");
  }
  if (service) {
    Logger::log("Service properties:\n%@", service->serviceProperties());
  } else {
    Logger::log("Service properties:\n%@", Text());
  }
  return savedSendOnService.load(std::memory_order_acquire)(self, message, service, newComposition);
}

}  // namespace pelorin
