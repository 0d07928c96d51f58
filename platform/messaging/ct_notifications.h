#pragma once

#include <string_view>

namespace pelorin::platform {

// The carrier's process-local notifications of the messaging daemon and the
// keys of their user info: a message sent, failed, or received (announced by
// id; the daemon then asks incomingMessageWithId: for it).
inline constexpr std::string_view kCTMessageSentNotification = "kCTMessageSentNotification";
inline constexpr std::string_view kCTMessageSendErrorNotification =
    "kCTMessageSendErrorNotification";
inline constexpr std::string_view kCTMessageReceivedNotification = "kCTMessageReceivedNotification";
// The message type (integer, 1 for a plain SMS) and the message id (unsigned 32-bit).
inline constexpr std::string_view kCTMessageTypeKey = "kCTMessageTypeKey";
inline constexpr std::string_view kCTMessageIdKey = "kCTMessageIdKey";

}  // namespace pelorin::platform
