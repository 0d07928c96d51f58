#pragma once

#include <atomic>
#include <map>
#include <mutex>

#include "platform/messaging/ct_message_center.h"
#include "sim/messaging_daemon/message_store.h"

namespace pelorin::sim {

// The daemon's carrier message centre. Its own send hands the message to a
// simulated carrier, which sends it at once (on a device with a carrier) and
// records where it went; its own lookup finds carrier messages received
// earlier. Thread-safe.
class SimMessageCenter final : public platform::CTMessageCenter {
 public:
  SimMessageCenter(MessageStore& store, bool hasCarrier) : store_(store), hasCarrier_(hasCarrier) {}

  // A new carrier message id (never in the range of injected ids).
  std::uint32_t nextMessageId() { return nextId_.fetch_add(1); }

  // Keeps a carrier message that arrived, for incomingMessageWithId().
  void receiveFromCarrier(const std::shared_ptr<platform::CTMessage>& message);

 protected:
  bool platformSendSMS(const std::shared_ptr<platform::CTMessage>& message,
                       bool moreToFollow) override;
  std::shared_ptr<platform::CTMessage> platformIncomingMessageWithId(
      std::uint32_t messageId) override;

 private:
  MessageStore& store_;
  const bool hasCarrier_;
  std::atomic<std::uint32_t> nextId_{1};

  std::mutex mutex_;
  std::map<std::uint32_t, platform::CTMessage> received_;  // guarded by mutex_
};

}  // namespace pelorin::sim
