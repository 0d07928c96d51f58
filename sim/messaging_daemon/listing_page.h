#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace pelorin::sim {

// One page of a host's listing (ListMessages, ListAlerts, ListBanners,
// ListMail), the same for every host. Items are in order of arrival, oldest
// first; `offset` counts from the oldest. The reply is one JSON object:
//
//   {"items": [...], "offset": O, "total": N, "more": B}
//
// where `more` is true when items remain after this page.

// The number of items a page may hold: `requested`, 0 meaning the default
// page size, and never more than the largest page.
std::uint32_t pageLimit(std::uint32_t requested);

// Builds the reply for the page starting at `offset` of `total` items.
// `item(i)` gives the JSON of the i-th item counted from `offset`
// (i < pageLimit(limit)), or nothing when there is none. Items are taken in
// order until the page is full or the next one would take the reply past
// the reply budget; the first item of a page is always taken, so a reader
// paging through never stalls.
std::string pageReply(std::uint64_t offset, std::uint64_t total, std::uint32_t limit,
                      const std::function<std::optional<nlohmann::json>(std::uint32_t)>& item);

}  // namespace pelorin::sim
