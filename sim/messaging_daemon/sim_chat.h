#pragma once

#include <memory>

#include "platform/messaging/imd_chat.h"

namespace pelorin::sim {

// A chat of a simulated service session. Immutable once made.
class SimChat final : public platform::IMDChat {
 public:
  SimChat(Text chatIdentifier, std::uint8_t style, Text serviceName,
          std::vector<std::shared_ptr<platform::IMDHandle>> participants,
          std::weak_ptr<platform::IMDServiceSession> session);

  Text chatIdentifier() const override { return chatIdentifier_; }
  std::uint8_t style() const override { return style_; }
  Text serviceName() const override { return serviceName_; }
  std::vector<std::shared_ptr<platform::IMDHandle>> participants() const override {
    return participants_;
  }
  Text guid() const override { return guid_; }
  platform::Dictionary chatProperties() const override;
  std::shared_ptr<platform::IMDServiceSession> serviceSession() const override {
    return session_.lock();
  }

 private:
  const Text chatIdentifier_;
  const std::uint8_t style_;
  const Text serviceName_;
  const std::vector<std::shared_ptr<platform::IMDHandle>> participants_;
  const Text guid_;
  const std::weak_ptr<platform::IMDServiceSession> session_;
};

}  // namespace pelorin::sim
