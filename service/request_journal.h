#pragma once

#include <cstdint>
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
  std::string body;
  int status = 0;  // 0 when the connection was dropped instead
  bool dropped = false;
  std::string peer;  // remote address and port: one per connection
};

// Every request of the voice routes, in arrival order, and the number of
// distinct connections they came over. Thread-safe.
class RequestJournal {
 public:
  void record(JournalEntry entry);
  std::vector<JournalEntry> entries() const;
  void clear();  // entries only; the connection count stays

  std::size_t requestCount() const;
  std::size_t connectionCount() const;

 private:
  mutable std::mutex mutex_;
  // Guarded by mutex_:
  std::vector<JournalEntry> entries_;
  std::set<std::string> peers_;
  std::uint64_t nextSequence_ = 1;
  std::size_t requestCount_ = 0;
};

}  // namespace pelorin::service
