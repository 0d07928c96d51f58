#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "platform/messaging/fz_message.h"
#include "platform/messaging/imd_chat.h"
#include "platform/text.h"
#include "platform/value.h"

namespace pelorin::platform {

// The messaging daemon's session of one chat service ("SMS" or "iMessage").
// Implemented by the daemon host; shared as std::shared_ptr; every function
// may be called from any thread. sendMessage() dispatches through the object
// runtime (runtime.h) once the host registered the class, so a replacement
// sees every send, including a session's send made by a tweak.
class IMDServiceSession {
 public:
  static constexpr std::string_view kClassName = "IMDServiceSession";
  static constexpr std::string_view kSendMessageSelector = "sendMessage:toChatID:identifier:style:";
  static constexpr std::string_view kSMSService = "SMS";
  static constexpr std::string_view kiMessageService = "iMessage";

  // The C++ type of the replaceable send, receiver first.
  using SendMessage = void(IMDServiceSession&, const std::shared_ptr<FZMessage>& message,
                           const Text& chatID, const Text& identifier, std::uint8_t style);

  IMDServiceSession() = default;
  IMDServiceSession(const IMDServiceSession&) = delete;
  IMDServiceSession& operator=(const IMDServiceSession&) = delete;
  virtual ~IMDServiceSession() = default;

  // Sends `message` in the chat with guid `toChatID` and `identifier`.
  void sendMessage(const std::shared_ptr<FZMessage>& message, const Text& toChatID,
                   const Text& identifier, std::uint8_t style);

  virtual Text serviceName() const = 0;

  // The session's chat with that identifier and style, or nullptr.
  virtual std::shared_ptr<IMDChat> chatForChatIdentifier(const Text& identifier,
                                                         std::uint8_t style) = 0;

  // Conversation updates shown to the user: sent, delivered at `date`,
  // failed with `error`, and an incoming message in the chat `forChat`.
  virtual void didSendMessage(const std::shared_ptr<FZMessage>& message, const Text& forChat,
                              std::uint8_t style) = 0;
  virtual void didReceiveMessageDeliveryReceiptForMessageID(const Text& messageID, Date date) = 0;
  virtual void didReceiveError(std::uint32_t error, const Text& forMessageID, bool forceError) = 0;
  virtual void didReceiveMessage(const std::shared_ptr<FZMessage>& message, const Text& forChat,
                                 std::uint8_t style) = 0;

  // Hosts, at start and before loading tweaks: registers the class and its
  // send with the runtime, platformSendMessage() as the implementation.
  // `offers` tells which selectors the host offers (every one when empty); a
  // method not offered is not registered, so tweaks find nothing to replace
  // and calls run the platform's own implementation.
  using SelectorFilter = std::function<bool(std::string_view selector)>;
  static void registerWithRuntime(const SelectorFilter& offers = {});

 protected:
  virtual void platformSendMessage(const std::shared_ptr<FZMessage>& message, const Text& toChatID,
                                   const Text& identifier, std::uint8_t style) = 0;

 private:
  static void originalSendMessage(IMDServiceSession& self,
                                  const std::shared_ptr<FZMessage>& message, const Text& chatID,
                                  const Text& identifier, std::uint8_t style);
};

}  // namespace pelorin::platform
