#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace pelorin::sim {

// The newest items of one kind that a host shows (its alerts, its banners),
// as the JSON objects its listing gives: at most kMaxKeptItems of them, the
// oldest dropped first, so a flood cannot grow a host without bound.
// Thread-safe.
class RecentItems {
 public:
  // Keeps `item` as the newest.
  void add(nlohmann::json item);
  // How many items were ever added, the dropped ones included.
  std::uint64_t added() const;
  // The items kept, oldest first.
  std::vector<nlohmann::json> items() const;
  // The listing's page of the items kept that starts at `offset`
  // (listing_page.h).
  std::string page(std::uint64_t offset, std::uint32_t limit) const;

 private:
  mutable std::mutex mutex_;
  std::deque<nlohmann::json> items_;  // guarded by mutex_
  std::uint64_t added_ = 0;           // guarded by mutex_
};

}  // namespace pelorin::sim
