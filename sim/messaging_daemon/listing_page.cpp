#include "sim/messaging_daemon/listing_page.h"

#include <algorithm>

#include "sim/messaging_daemon/daemon_events.h"
#include "sim/messaging_daemon/host_limits.h"

namespace pelorin::sim {

std::uint32_t pageLimit(std::uint32_t requested) {
  if (requested == 0) return limits::kDefaultPageSize;
  return std::min(requested, limits::kMaxPageSize);
}

std::string pageReply(std::uint64_t offset, std::uint64_t total, std::uint32_t limit,
                      const std::function<std::optional<nlohmann::json>(std::uint32_t)>& item) {
  // Room for the envelope around the items: names, numbers, separators.
  constexpr std::size_t kEnvelopeBytes = 128;
  auto items = nlohmann::json::array();
  std::size_t bytes = kEnvelopeBytes;
  for (const std::uint32_t count = pageLimit(limit); items.size() < count;) {
    auto next = item(static_cast<std::uint32_t>(items.size()));
    if (!next) break;
    bytes += jsonLine(*next).size() + 1;
    if (!items.empty() && bytes > limits::kReplyBudgetBytes) break;
    items.push_back(std::move(*next));
  }
  const bool more = offset + items.size() < total;
  return jsonLine(
      {{"items", std::move(items)}, {"offset", offset}, {"total", total}, {"more", more}});
}

}  // namespace pelorin::sim
