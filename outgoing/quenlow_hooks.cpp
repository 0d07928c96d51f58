#include "outgoing/quenlow_hooks.h"

#include <atomic>
#include <exception>

#include "common/darwin_observer_redirect.h"
#include "common/logger.h"
#include "common/names.h"
#include "incoming/contact_cache.h"
#include "incoming/incoming_distributed_message_handler.h"
#include "incoming/incoming_message_handler.h"
#include "outgoing/outgoing_message_handler.h"
#include "outgoing/quenlow_settings.h"
#include "platform/runtime.h"
#include "voice/gv_interface.h"

namespace pelorin {
namespace {

using platform::CTMessage;
using platform::CTMessageCenter;
using platform::IMDServiceSession;
namespace runtime = platform::runtime;

using SendSMSPointer = runtime::TypedMethod<CTMessageCenter::SendSMS>::Pointer;
using IncomingPointer = runtime::TypedMethod<CTMessageCenter::IncomingMessageWithId>::Pointer;
using SendMessagePointer = runtime::TypedMethod<IMDServiceSession::SendMessage>::Pointer;

// The daemon's previous implementations, saved before each replacement is
// installed and only read afterwards.
std::atomic<SendSMSPointer> savedSendSMS{nullptr};
std::atomic<IncomingPointer> savedIncoming{nullptr};
std::atomic<SendMessagePointer> savedSendMessage{nullptr};

// Installs `replacement` unless this library already did (a second call
// would save the replacement itself as the previous implementation).
template <class Signature, class Pointer>
bool replace(std::string_view cls, std::string_view selector, Pointer replacement,
             std::atomic<Pointer>& saved) {
  auto method = runtime::TypedMethod<Signature>::find(cls, selector);
  if (!method || method->implementation() == replacement) return false;
  method->hook(replacement, saved);
  return true;
}

void settingsChangedCallback(const std::string&) {
  QuenlowSettings::readSettings();
}

void myCacheRefreshCallback(const std::string&) {
  ContactCache::sharedInstance().resetCache();
}

void dorvessaRulesChangedCallback(const std::string&) {
  OutgoingMessageHandler::sharedInstance().readSendRules();
}

void gvAccessNumberCacheChangedCallback(const std::string&) {
  GVInterface::sharedInstance().accessNumberCache().readAccessNumberFile();
}

}  // namespace

void QuenlowHooks::start() {
  QuenlowSettings::readSettings();
  subscribe();
  installHooks();
  GVInterface::sharedInstance().accessNumberCache().setEnableAccessNumberCache(true);
  Logger::log("Finishing the initialization routine.");
  IncomingDistributedMessageHandler::sharedSever().registerForSMSRecvd();
}

void QuenlowHooks::subscribe() {
  DarwinObserverRedirect::addObserverwithCallback(&settingsChangedCallback, kSettingsNotification);
  DarwinObserverRedirect::addObserverwithCallback(&myCacheRefreshCallback,
                                                  kRefreshContactsCacheNotification);
  DarwinObserverRedirect::addObserverwithCallback(&dorvessaRulesChangedCallback,
                                                  kRulesChangedNotification);
  DarwinObserverRedirect::addObserverwithCallback(&gvAccessNumberCacheChangedCallback,
                                                  kAccessNumberCacheChangedNotification);
}

int QuenlowHooks::installHooks() {
  int replaced = 0;
  replaced += replace<CTMessageCenter::SendSMS>(CTMessageCenter::kClassName,
                                                CTMessageCenter::kSendSMSSelector,
                                                &QuenlowHooks::sendSMS, savedSendSMS);
  replaced += replace<CTMessageCenter::IncomingMessageWithId>(
      CTMessageCenter::kClassName, CTMessageCenter::kIncomingMessageWithIdSelector,
      &QuenlowHooks::incomingMessageWithId, savedIncoming);
  replaced += replace<IMDServiceSession::SendMessage>(IMDServiceSession::kClassName,
                                                      IMDServiceSession::kSendMessageSelector,
                                                      &QuenlowHooks::sendMessage, savedSendMessage);
  return replaced;
}

bool QuenlowHooks::sendSMS(CTMessageCenter& self, const std::shared_ptr<CTMessage>& message,
                           bool moreToFollow) {
  Logger::log("In sendSMS:withMoreToFollow: message type %d", message ? message->messageType() : 0);
  bool returnValue = false;
  bool takenOver = false;
  try {
    takenOver = OutgoingMessageHandler::sharedInstance().processOutgoingSMS(message, returnValue);
  } catch (const std::exception&) {
    takenOver = false;  // our failure must not lose the text: the platform sends it
  }
  if (takenOver) return returnValue;
  Logger::log("SMS is about to be sent by Carrier.");
  return savedSendSMS.load(std::memory_order_acquire)(self, message, moreToFollow);
}

std::shared_ptr<CTMessage> QuenlowHooks::incomingMessageWithId(CTMessageCenter& self,
                                                               std::uint32_t messageId) {
  auto& incoming = IncomingMessageHandler::sharedInstance();
  if (auto injected = incoming.processIncomingMessage(messageId)) return injected;
  auto message = savedIncoming.load(std::memory_order_acquire)(self, messageId);
  if (message && message->messageType() == CTMessage::kPlainSMSType &&
      message->items().size() == 1) {
    incoming.modifyMessageifGV(*message);
  }
  return message;
}

void QuenlowHooks::sendMessage(IMDServiceSession& self,
                               const std::shared_ptr<platform::FZMessage>& message,
                               const Text& chatID, const Text& identifier, std::uint8_t style) {
  Logger::log(
      "In sendMessage:toChatID:identifier:style: message type %@ and chat composite id %@ chat "
      "identifier %@ and style %u",
      message ? message->service() : Text(), chatID, identifier, unsigned{style});
  bool takenOver = false;
  try {
    auto& handler = OutgoingMessageHandler::sharedInstance();
    auto chat = self.chatForChatIdentifier(identifier, style);
    takenOver = handler.redirectSMStoiMessageforiPoad(message, chat) ||
                handler.processOutgoingiMessage(message, chat);
  } catch (const std::exception&) {
    takenOver = false;
  }
  if (takenOver) return;
  savedSendMessage.load(std::memory_order_acquire)(self, message, chatID, identifier, style);
}

}  // namespace pelorin
