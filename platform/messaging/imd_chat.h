#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/messaging/imd_handle.h"
#include "platform/text.h"
#include "platform/value.h"

namespace pelorin::platform {

class IMDServiceSession;

// A conversation of one service session. Implemented by the messaging daemon;
// shared as std::shared_ptr and safe to read from any thread (readers get
// copies).
class IMDChat {
 public:
  // Chat styles: one byte, "-" for a one-to-one chat, "+" for a group.
  static constexpr std::uint8_t kOneToOneStyle = '-';
  static constexpr std::uint8_t kGroupStyle = '+';

  IMDChat() = default;
  IMDChat(const IMDChat&) = delete;
  IMDChat& operator=(const IMDChat&) = delete;
  virtual ~IMDChat() = default;

  virtual Text chatIdentifier() const = 0;
  virtual std::uint8_t style() const = 0;
  virtual Text serviceName() const = 0;
  virtual std::vector<std::shared_ptr<IMDHandle>> participants() const = 0;
  virtual Text guid() const = 0;
  virtual Dictionary chatProperties() const = 0;
  // The session that owns the chat; nullptr once the daemon dropped it.
  virtual std::shared_ptr<IMDServiceSession> serviceSession() const = 0;
};

}  // namespace pelorin::platform
