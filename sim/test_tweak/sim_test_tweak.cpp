// SimTestTweak: a tweak for the daemon host's tests and for trying the host
// by hand. At load it replaces the carrier centre's send and lookup and the
// session send, the way the system's own tweak does, and writes what it sees
// to <root>/var/tmp/sim-test-tweak.log, one line per event:
// - an SMS whose text starts with "takeover" is taken over and reported sent
//   with the carrier's sent notification; one starting with "swallow" is
//   taken over silently; one starting with "slow" waits (up to 20 s) until
//   <root>/var/tmp/sim-test-tweak.release exists, as a hook waiting on the
//   network would, then goes on; any other goes to the saved send;
// - an incoming id from 0xFFFF0000 up is answered with a message the tweak
//   makes; any other is looked up by the saved lookup and its one-part text
//   gets " [seen by tweak]" appended;
// - a chat message whose text is "move to SMS" is moved to the SMS session's
//   chat of the same identifier (its send re-enters this replacement); one
//   whose text is "report updates" is taken over and answered with each of
//   the session's update calls: sent, delivered (date 12345), error 7
//   (forced) and a received "pong" from the chat identifier.
// Replacing a class or method the host lacks is skipped without a word.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "platform/format.h"
#include "platform/guid.h"
#include "platform/messaging/ct_message_center.h"
#include "platform/messaging/ct_notifications.h"
#include "platform/messaging/imd_account_controller.h"
#include "platform/notification_center.h"
#include "platform/root_path.h"
#include "platform/runtime.h"

namespace {

using namespace pelorin;
using namespace pelorin::platform;

constexpr std::uint32_t kFirstInjectedId = 0xFFFF0000u;

std::atomic<runtime::TypedMethod<CTMessageCenter::SendSMS>::Pointer> savedSendSMS{nullptr};
std::atomic<runtime::TypedMethod<CTMessageCenter::IncomingMessageWithId>::Pointer> savedIncoming{
    nullptr};
std::atomic<runtime::TypedMethod<IMDServiceSession::SendMessage>::Pointer> savedSendMessage{
    nullptr};

void note(const std::string& line) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  if (std::FILE* log = std::fopen(resolvePath("/var/tmp/sim-test-tweak.log").c_str(), "a")) {
    std::fprintf(log, "%s\n", line.c_str());
    std::fclose(log);
  }
}

bool startsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

bool replacedSendSMS(CTMessageCenter& self, const std::shared_ptr<CTMessage>& message, bool more) {
  const std::string text = message->text();
  note(format("sendSMS id=%u more=%d text=%@", message->messageId(), more ? 1 : 0, text));
  if (startsWith(text, "takeover")) {
    localNotifyCenter().postNotification(std::string(kCTMessageSentNotification),
                                         {{std::string(kCTMessageTypeKey), 1},
                                          {std::string(kCTMessageIdKey), message->messageId()}});
    return false;
  }
  if (startsWith(text, "swallow")) return false;
  if (startsWith(text, "slow")) {
    const std::string release = resolvePath("/var/tmp/sim-test-tweak.release");
    for (int i = 0; i < 2000 && !std::filesystem::exists(release); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  const bool sent = savedSendSMS.load()(self, message, more);
  note(format("carrier returned %d", sent ? 1 : 0));
  return sent;
}

std::shared_ptr<CTMessage> replacedIncoming(CTMessageCenter& self, std::uint32_t messageId) {
  note(format("incoming id=%u", messageId));
  if (messageId >= kFirstInjectedId) {
    auto injected = std::make_shared<CTMessage>();
    injected->setMessageType(CTMessage::kPlainSMSType);
    injected->setMessageId(messageId);
    injected->setSender(CTPhoneNumber::phoneNumberWithDigits("8005550100", "1"));
    injected->addText(format("injected %u", messageId));
    return injected;
  }
  auto message = savedIncoming.load()(self, messageId);
  if (message && message->items().size() == 1) {
    const std::string text = message->text();
    message->removePartAtIndex(0);
    message->addText(text + " [seen by tweak]");
  }
  return message;
}

void replacedSendMessage(IMDServiceSession& self, const std::shared_ptr<FZMessage>& message,
                         const Text& chatID, const Text& identifier, std::uint8_t style) {
  note(format("sendMessage service=%@ chat=%@", message->service(), identifier));
  auto* controller = IMDAccountController::sharedAccountController();
  auto sms = controller ? controller->anySessionForServiceName("SMS") : nullptr;
  auto chat = sms ? sms->chatForChatIdentifier(identifier, style) : nullptr;
  if (message->body() == "report updates") {
    self.didSendMessage(message, identifier, style);
    self.didReceiveMessageDeliveryReceiptForMessageID(message->guid(), Date{12345});
    self.didReceiveError(7, message->guid(), true);
    self.didReceiveMessage(FZMessage::initWithSender(identifier, Date{12346}, "pong", std::nullopt,
                                                     {}, 1, 0, stringGUID()),
                           identifier, style);
    return;
  }
  if (message->body() == "move to SMS" && message->service() != "SMS" && chat) {
    message->setService("SMS");
    sms->sendMessage(message, chat->guid(), chat->chatIdentifier(), chat->style());
    return;
  }
  savedSendMessage.load()(self, message, chatID, identifier, style);
}

template <class Signature, class Pointer>
void replace(std::string_view cls, std::string_view selector, Pointer replacement,
             std::atomic<Pointer>& saved) {
  const bool replaced = runtime::hookMethod<Signature>(cls, selector, replacement, saved);
  note(format("%@ %@ %@", replaced ? "replaced" : "skipped", cls, selector));
}

__attribute__((constructor)) void simTestTweakStart() {
  replace<CTMessageCenter::SendSMS>(CTMessageCenter::kClassName, CTMessageCenter::kSendSMSSelector,
                                    &replacedSendSMS, savedSendSMS);
  replace<CTMessageCenter::IncomingMessageWithId>(CTMessageCenter::kClassName,
                                                  CTMessageCenter::kIncomingMessageWithIdSelector,
                                                  &replacedIncoming, savedIncoming);
  replace<IMDServiceSession::SendMessage>(IMDServiceSession::kClassName,
                                          IMDServiceSession::kSendMessageSelector,
                                          &replacedSendMessage, savedSendMessage);
  // What a host without these has: both are skipped.
  std::atomic<runtime::TypedMethod<CTMessageCenter::SendSMS>::Pointer> unused{nullptr};
  replace<CTMessageCenter::SendSMS>("NoSuchClass", CTMessageCenter::kSendSMSSelector,
                                    &replacedSendSMS, unused);
  replace<CTMessageCenter::SendSMS>(CTMessageCenter::kClassName, "noSuchMethod:", &replacedSendSMS,
                                    unused);
}

}  // namespace
