#pragma once

#include <optional>

#include "platform/text.h"
#include "platform/value.h"

namespace pelorin::platform {

// A push message delivered to the home screen: the topic (the identifier of
// the application it is meant for) and its user info ("aps" → "alert" holds
// the banner text). Either may be missing. Immutable once made; safe to read
// from any thread.
class APSIncomingMessage {
 public:
  APSIncomingMessage(Text topic, std::optional<Dictionary> userInfo)
      : topic_(std::move(topic)), userInfo_(std::move(userInfo)) {}

  const Text& topic() const { return topic_; }
  const std::optional<Dictionary>& userInfo() const { return userInfo_; }

 private:
  const Text topic_;
  const std::optional<Dictionary> userInfo_;
};

}  // namespace pelorin::platform
