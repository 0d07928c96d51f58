#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/chatkit/ck_message.h"
#include "platform/chatkit/ck_service.h"

namespace pelorin::platform {

// A conversation of the Messages application. The Messages host implements
// the platform* functions; everybody calls the public ones, which dispatch
// through the object runtime (runtime.h) once the host registered the class,
// so a tweak's replacement sees every send, on any thread.
class CKConversation {
 public:
  static constexpr std::string_view kClassName = "CKConversation";
  static constexpr std::string_view kSendMessageSelector = "sendMessage:newComposition:";
  static constexpr std::string_view kSendMessageOnServiceSelector =
      "sendMessage:onService:newComposition:";

  // The C++ types of the two replaceable sends, receiver first. The result
  // tells whether the message was handed on for sending.
  using SendMessage = bool(CKConversation&, const std::shared_ptr<CKMessage>& message,
                           bool newComposition);
  using SendMessageOnService = bool(CKConversation&, const std::shared_ptr<CKMessage>& message,
                                    const std::shared_ptr<CKService>& service, bool newComposition);

  CKConversation() = default;
  CKConversation(const CKConversation&) = delete;
  CKConversation& operator=(const CKConversation&) = delete;
  virtual ~CKConversation() = default;

  // Sends `message` on its own service.
  bool sendMessage(const std::shared_ptr<CKMessage>& message, bool newComposition);
  // Sends `message` on `service`.
  bool sendMessage(const std::shared_ptr<CKMessage>& message,
                   const std::shared_ptr<CKService>& service, bool newComposition);

  // The conversation's recipients, as typed.
  virtual std::vector<std::string> recipients() const = 0;

  // Hosts, at start and before loading tweaks: registers the class and its
  // two sends with the runtime, the platform* functions as their
  // implementations. `offers` tells which selectors the host offers (every
  // one when empty); a method not offered is not registered, so tweaks find
  // nothing to replace and calls run the platform's own implementation.
  using SelectorFilter = std::function<bool(std::string_view selector)>;
  static void registerWithRuntime(const SelectorFilter& offers = {});

 protected:
  virtual bool platformSendMessage(const std::shared_ptr<CKMessage>& message,
                                   bool newComposition) = 0;
  virtual bool platformSendMessageOnService(const std::shared_ptr<CKMessage>& message,
                                            const std::shared_ptr<CKService>& service,
                                            bool newComposition) = 0;

 private:
  static bool originalSendMessage(CKConversation& self, const std::shared_ptr<CKMessage>& message,
                                  bool newComposition);
  static bool originalSendMessageOnService(CKConversation& self,
                                           const std::shared_ptr<CKMessage>& message,
                                           const std::shared_ptr<CKService>& service,
                                           bool newComposition);
};

}  // namespace pelorin::platform
