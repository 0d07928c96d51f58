#include "sim/messaging_daemon/message_store.h"

namespace pelorin::sim {

std::uint64_t MessageStore::add(StoredMessage message) {
  {
    std::lock_guard lock(mutex_);
    message.serial = messages_.size() + 1;
    messages_.push_back(message);
  }
  if (listener_) listener_("added", message);
  return message.serial;
}

bool MessageStore::updateByMessageId(std::uint32_t messageId,
                                     const std::function<void(StoredMessage&)>& change) {
  return update([&](const StoredMessage& m) { return m.messageId == messageId; }, change);
}

bool MessageStore::updateByGuid(const std::string& guid,
                                const std::function<void(StoredMessage&)>& change) {
  return update([&](const StoredMessage& m) { return m.guid == guid; }, change);
}

std::vector<StoredMessage> MessageStore::all() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

bool MessageStore::update(const std::function<bool(const StoredMessage&)>& matches,
                          const std::function<void(StoredMessage&)>& change) {
  StoredMessage changed;
  {
    std::lock_guard lock(mutex_);
    auto it = messages_.rbegin();
    while (it != messages_.rend() && !matches(*it)) ++it;
    if (it == messages_.rend()) return false;
    change(*it);
    changed = *it;
  }
  if (listener_) listener_("updated", changed);
  return true;
}

}  // namespace pelorin::sim
