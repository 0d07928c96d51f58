#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/messaging/imd_account_controller.h"
#include "platform/messaging/imd_service_session.h"

namespace pelorin::testing {

// An iMessage session that records the messages it is told were received,
// installed as the process's only session for the length of a test.
class RecordingiMessageSession final : public platform::IMDServiceSession {
 public:
  struct Received {
    std::shared_ptr<platform::FZMessage> message;
    Text chat;
    std::uint8_t style;
  };

  Text serviceName() const override { return std::string(kiMessageService); }
  std::shared_ptr<platform::IMDChat> chatForChatIdentifier(const Text&, std::uint8_t) override {
    return nullptr;
  }
  void didSendMessage(const std::shared_ptr<platform::FZMessage>&, const Text&,
                      std::uint8_t) override {}
  void didReceiveMessageDeliveryReceiptForMessageID(const Text&, platform::Date) override {}
  void didReceiveError(std::uint32_t, const Text&, bool) override {}
  void didReceiveMessage(const std::shared_ptr<platform::FZMessage>& message, const Text& forChat,
                         std::uint8_t style) override {
    std::lock_guard lock(mutex_);
    received_.push_back({message, forChat, style});
  }
  std::vector<Received> received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }

 protected:
  void platformSendMessage(const std::shared_ptr<platform::FZMessage>&, const Text&, const Text&,
                           std::uint8_t) override {}

 private:
  mutable std::mutex mutex_;
  std::vector<Received> received_;
};

class RecordingAccountController final : public platform::IMDAccountController {
 public:
  explicit RecordingAccountController(bool withiMessage) : withiMessage_(withiMessage) {
    setSharedAccountController(this);
  }
  ~RecordingAccountController() override { setSharedAccountController(nullptr); }

  std::shared_ptr<platform::IMDServiceSession> anySessionForServiceName(
      const Text& serviceName) override {
    if (withiMessage_ && serviceName == platform::IMDServiceSession::kiMessageService)
      return session;
    return nullptr;
  }

  const std::shared_ptr<RecordingiMessageSession> session =
      std::make_shared<RecordingiMessageSession>();

 private:
  const bool withiMessage_;
};

}  // namespace pelorin::testing
