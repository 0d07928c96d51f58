#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace pelorin::service {

// One request as the service received it, and what it did with it.
struct JournalEntry {
  std::uint64_t sequence = 0;
  std::string method;
  std::string target;                                        // path and query, as sent
  std::vector<std::pair<std::string, std::string>> headers;  // as sent, in order
  std::string body;          // at most RequestJournal::kMaxBodyBytes of it
  std::size_t bodySize = 0;  // the whole body's size, as received
  int status = 0;            // 0 when the connection was dropped instead
  bool dropped = false;
  std::string peer;  // remote address and port: one per connection
};

// The latest requests of the voice routes, in arrival order, and the number
// of requests and distinct connections seen. Bounded, so a long run or large
// bodies cannot grow it without end: the oldest entries go first, and each
// keeps only the start of its body. Thread-safe.
class RequestJournal {
 public:
  static constexpr std::size_t kMaxEntries = 1000;
  static constexpr std::size_t kMaxBodyBytes = 64 * 1024;

  void record(JournalEntry entry);
  std::vector<JournalEntry> entries() const;
  void clear();  // entries only; the connection count stays

  std::size_t requestCount() const;
  std::size_t connectionCount() const;

 private:
  mutable std::mutex mutex_;
  // Guarded by mutex_:
  std::deque<JournalEntry> entries_;
  std::set<std::string> peers_;  // peer addresses are few: loopback ports
  std::uint64_t nextSequence_ = 1;
  std::size_t requestCount_ = 0;
};

}  // namespace pelorin::service
