#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
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
  // When the store took it, in seconds since 2001 (the platform clock).
  double time = 0;

  bool operator==(const StoredMessage&) const = default;
};

// One chat of a service session, as the store keeps it.
struct StoredChat {
  std::string service;
  std::string identifier;
  std::uint8_t style = 0;
  std::vector<std::string> participants;
};

// The message store: every message the device sent or received with its
// state, and the service sessions' chats, kept in an SQLite database so that
// they outlive the process, a killed one included. No message is kept in
// memory: every read goes to the database, by index where it looks a message
// up. Thread-safe: one connection, used under one lock. The listener hears of
// every addition ("added") and change ("updated") that reached the database,
// on the thread that made it, after the store's lock is released.
//
// A failure of the database once open (a full disk, say) is said on stderr
// and answered as nothing done: add() returns 0, an update false, a read
// what it could read. Nothing throws.
class MessageStore {
 public:
  using Listener = std::function<void(const std::string& event, const StoredMessage& message)>;

  // Where the daemon host keeps the database, under the root.
  static constexpr char kDatabasePath[] = "/var/mobile/Library/SMS/sms.db";

  // Opens the database at `path`, creating it and its folders when missing;
  // an empty path keeps a fresh database in memory (tests). The database and
  // its -wal and -shm files are made 0600 and never opened through a link. A
  // file that cannot be opened, is not a database, is corrupt or holds a
  // schema this store does not know (a newer version, another program's) is
  // said on stderr, moved aside as "<path>.unreadable-<unix time>" with its
  // -wal and -shm files, and replaced by an empty database. When even that
  // fails, or the file is busy in another process, the store keeps to memory.
  MessageStore(const std::string& path, Listener listener);
  ~MessageStore();
  MessageStore(const MessageStore&) = delete;
  MessageStore& operator=(const MessageStore&) = delete;

  // Adds the message under the next serial (after every stored one), stamped
  // with the platform clock's time; returns the serial, or 0 when it could
  // not be stored.
  std::uint64_t add(StoredMessage message);

  // Changes the newest message with that carrier id / guid; false when none
  // (or the change could not be stored).
  bool updateByMessageId(std::uint32_t messageId,
                         const std::function<void(StoredMessage&)>& change);
  bool updateByGuid(const std::string& guid, const std::function<void(StoredMessage&)>& change);

  // One page of the store, oldest first.
  struct Page {
    std::vector<StoredMessage> messages;
    std::uint64_t total = 0;  // messages in the store when the page was read
  };
  // Up to `limit` messages from the `offset`-th oldest on (0 is the oldest).
  // Reading stops after the first message whose texts take the bytes read
  // past `byteBudget`, so a page of large messages stays near the budget.
  Page page(std::uint64_t offset, std::uint32_t limit, std::size_t byteBudget) const;

  // Every message still "sending" that was stored before this store was
  // opened (by an earlier run), oldest first.
  std::vector<StoredMessage> sendingFromEarlierRuns() const;

  // The largest carrier id below `bound` of any stored message, or 0.
  std::uint32_t largestMessageIdBelow(std::uint32_t bound) const;

  // Keeps a chat; one already kept under its service, identifier and style
  // stays as it is.
  void addChat(const StoredChat& chat);
  // The chat kept under that service, identifier and style, if any.
  std::optional<StoredChat> findChat(const std::string& service, const std::string& identifier,
                                     std::uint8_t style) const;

 private:
  struct Database;
  // Finds the message to change, under the lock.
  using Finder = std::function<std::optional<StoredMessage>(Database&)>;

  bool update(const Finder& find, const std::function<void(StoredMessage&)>& change);

  const Listener listener_;
  mutable std::mutex mutex_;
  std::unique_ptr<Database> db_;         // guarded by mutex_; null when not even memory would do
  std::uint64_t count_ = 0;              // guarded by mutex_
  std::uint64_t earlierRunsSerial_ = 0;  // the last serial stored before opening
};

}  // namespace pelorin::sim
