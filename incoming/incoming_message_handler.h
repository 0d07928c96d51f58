#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/messaging/ct_message.h"
#include "platform/text.h"

namespace pelorin {

// Turns a Google Voice text that reached the device by a side road (push,
// mail, or a carrier SMS from an access number) into an ordinary incoming
// message from the real sender. One instance per process; each library
// configures its own through its settings reader.
class IncomingMessageHandler {
 public:
  static IncomingMessageHandler& sharedInstance();

  IncomingMessageHandler() = default;
  IncomingMessageHandler(const IncomingMessageHandler&) = delete;
  IncomingMessageHandler& operator=(const IncomingMessageHandler&) = delete;

  // The daemon's incoming-message hook: the injected message for an id of
  // the reserved range, or nullptr (the platform's own lookup then runs).
  std::shared_ptr<platform::CTMessage> processIncomingMessage(std::uint32_t messageId);

  // The daemon's incoming-message hook, for a received one-part SMS: rewrites
  // a text that Google Voice forwarded from an access number in place.
  void modifyMessageifGV(platform::CTMessage& message);

  // Settings, written by the settings readers and read without a lock.
  void setRecvSignature(const Text& signature);
  Text recvSignature() const;
  void setEnableReceiveOfficialGV(bool enable) { enableReceiveOfficialGV_ = enable; }
  bool enableReceiveOfficialGV() const { return enableReceiveOfficialGV_; }
  void setEnableReceiveByMail(bool enable) { enableReceiveByMail_ = enable; }
  bool enableReceiveByMail() const { return enableReceiveByMail_; }
  void setAccountOption(std::int32_t option) { accountOption_ = option; }
  std::int32_t accountOption() const { return accountOption_; }
  void setIsAniPhone(bool isAniPhone) { isAniPhone_ = isAniPhone; }
  bool isAniPhone() const { return isAniPhone_; }

 private:
  std::atomic<bool> enableReceiveOfficialGV_{false};
  std::atomic<bool> isAniPhone_{true};
  std::atomic<bool> enableReceiveByMail_{false};
  std::atomic<std::int32_t> accountOption_{1};

  mutable std::mutex textSettingsLock_;
  // Guarded by textSettingsLock_: texts cannot be swapped atomically.
  Text recvSignature_;
};

}  // namespace pelorin
