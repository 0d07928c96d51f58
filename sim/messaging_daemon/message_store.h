#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/text.h"

namespace pelorin::sim {

// One message as the simulated device's message store keeps it.
struct StoredMessage {
  std::uint64_t serial = 0;  // the store's own key, in order of arrival
  std::string service;       // "SMS" or "iMessage"
  std::string direction;     // "outgoing" or "incoming"
  Text sender;
  std::vector<std::string> recipients;  // as the sender addressed them
  Text text;
  std::string state;                       // "sending", "sent", "delivered", "failed" or "received"
  std::optional<std::uint32_t> messageId;  // carrier message id
  Text guid;                               // chat message guid
  Text chatIdentifier;
  std::vector<std::string> attachments;
  std::int64_t errorCode = 0;
  // Where the simulated carrier sent it (after any change of recipient), if it did.
  std::optional<std::vector<std::string>> carrierRecipients;
};

// The message store: every message the device sent or received and its
// state. Thread-safe. The listener hears of every addition ("added") and
// change ("updated"), on the thread that made it, after the store's lock is
// released.
class MessageStore {
 public:
  using Listener = std::function<void(const std::string& event, const StoredMessage& message)>;

  explicit MessageStore(Listener listener) : listener_(std::move(listener)) {}

  // Adds the message under the next serial; returns the serial.
  std::uint64_t add(StoredMessage message);

  // Changes the newest message with that carrier id / guid; false when none.
  bool updateByMessageId(std::uint32_t messageId,
                         const std::function<void(StoredMessage&)>& change);
  bool updateByGuid(const std::string& guid, const std::function<void(StoredMessage&)>& change);

  std::vector<StoredMessage> all() const;

 private:
  bool update(const std::function<bool(const StoredMessage&)>& matches,
              const std::function<void(StoredMessage&)>& change);

  const Listener listener_;
  mutable std::mutex mutex_;
  std::vector<StoredMessage> messages_;  // guarded by mutex_
};

}  // namespace pelorin::sim
