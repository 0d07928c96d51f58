#include "sim/messaging_daemon/recent_items.h"

#include "sim/messaging_daemon/host_limits.h"
#include "sim/messaging_daemon/listing_page.h"

namespace pelorin::sim {

void RecentItems::add(nlohmann::json item) {
  std::lock_guard lock(mutex_);
  items_.push_back(std::move(item));
  if (items_.size() > limits::kMaxKeptItems) items_.pop_front();
  ++added_;
}

std::uint64_t RecentItems::added() const {
  std::lock_guard lock(mutex_);
  return added_;
}

std::vector<nlohmann::json> RecentItems::items() const {
  std::lock_guard lock(mutex_);
  return {items_.begin(), items_.end()};
}

std::string RecentItems::page(std::uint64_t offset, std::uint32_t limit) const {
  std::lock_guard lock(mutex_);
  return pageReply(offset, items_.size(), limit,
                   [&](std::uint32_t i) -> std::optional<nlohmann::json> {
                     if (offset >= items_.size() || i >= items_.size() - offset) {
                       return std::nullopt;
                     }
                     return items_[offset + i];
                   });
}

}  // namespace pelorin::sim
