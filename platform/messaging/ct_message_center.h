#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "platform/messaging/ct_message.h"

namespace pelorin::platform {

// The carrier message centre of the messaging daemon. The daemon host
// implements the platform* functions; everybody calls the public ones, which
// dispatch through the object runtime (runtime.h) once the host registered the
// class, so a tweak's replacement sees every call, on any thread.
class CTMessageCenter {
 public:
  static constexpr std::string_view kClassName = "CTMessageCenter";
  static constexpr std::string_view kSendSMSSelector = "sendSMS:withMoreToFollow:";
  static constexpr std::string_view kIncomingMessageWithIdSelector = "incomingMessageWithId:";

  // The C++ types of the two replaceable methods, receiver first.
  using SendSMS = bool(CTMessageCenter&, const std::shared_ptr<CTMessage>&, bool);
  using IncomingMessageWithId = std::shared_ptr<CTMessage>(CTMessageCenter&, std::uint32_t);

  CTMessageCenter() = default;
  CTMessageCenter(const CTMessageCenter&) = delete;
  CTMessageCenter& operator=(const CTMessageCenter&) = delete;
  virtual ~CTMessageCenter() = default;

  // Sends a carrier message; the result tells whether the send was accepted.
  bool sendSMS(const std::shared_ptr<CTMessage>& message, bool moreToFollow);
  // The received carrier message with that id, or nullptr.
  std::shared_ptr<CTMessage> incomingMessageWithId(std::uint32_t messageId);

  // Hosts, at start and before loading tweaks: registers the class and its two
  // methods with the runtime, the platform* functions as their implementations.
  // `offers` tells which selectors the host offers (every one when empty); a
  // method not offered is not registered, so tweaks find nothing to replace
  // and calls run the platform's own implementation.
  using SelectorFilter = std::function<bool(std::string_view selector)>;
  static void registerWithRuntime(const SelectorFilter& offers = {});

 protected:
  virtual bool platformSendSMS(const std::shared_ptr<CTMessage>& message, bool moreToFollow) = 0;
  virtual std::shared_ptr<CTMessage> platformIncomingMessageWithId(std::uint32_t messageId) = 0;

 private:
  static bool originalSendSMS(CTMessageCenter& self, const std::shared_ptr<CTMessage>& message,
                              bool moreToFollow);
  static std::shared_ptr<CTMessage> originalIncomingMessageWithId(CTMessageCenter& self,
                                                                  std::uint32_t messageId);
};

}  // namespace pelorin::platform
