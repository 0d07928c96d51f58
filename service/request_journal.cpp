#include "service/request_journal.h"

#include <algorithm>

namespace pelorin::service {

void RequestJournal::record(JournalEntry entry) {
  entry.bodySize = std::max(entry.bodySize, entry.body.size());
  if (entry.body.size() > kMaxBodyBytes) {
    entry.body.resize(kMaxBodyBytes);
    entry.body.shrink_to_fit();
  }
  std::lock_guard lock(mutex_);
  entry.sequence = nextSequence_++;
  ++requestCount_;
  peers_.insert(entry.peer);
  entries_.push_back(std::move(entry));
  if (entries_.size() > kMaxEntries) entries_.pop_front();
}

std::vector<JournalEntry> RequestJournal::entries() const {
  std::lock_guard lock(mutex_);
  return {entries_.begin(), entries_.end()};
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
