#include "service/request_journal.h"

namespace pelorin::service {

void RequestJournal::record(JournalEntry entry) {
  std::lock_guard lock(mutex_);
  entry.sequence = nextSequence_++;
  ++requestCount_;
  peers_.insert(entry.peer);
  entries_.push_back(std::move(entry));
}

std::vector<JournalEntry> RequestJournal::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

void RequestJournal::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

std::size_t RequestJournal::requestCount() const {
  std::lock_guard lock(mutex_);
  return requestCount_;
}

std::size_t RequestJournal::connectionCount() const {
  std::lock_guard lock(mutex_);
  return peers_.size();
}

}  // namespace pelorin::service
