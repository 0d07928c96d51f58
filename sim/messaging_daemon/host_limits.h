#pragma once

#include <cstddef>
#include <cstdint>

// What the hosts' control interfaces accept and answer at most. A D-Bus
// message cannot exceed what the bus carries (a larger reply costs the host
// its connection), and nothing a phone sends comes near these sizes, so input
// beyond them is refused with a clear error and listings come in pages.
namespace pelorin::sim::limits {

// One text: an SMS, a chat message, an alert, a push's alert text.
inline constexpr std::size_t kMaxTextBytes = 64 * 1024;
// One push topic.
inline constexpr std::size_t kMaxTopicBytes = 255;
// One address: a recipient, participant or sender. (A chat identifier counts
// as a text: a group's joins its participants.)
inline constexpr std::size_t kMaxAddressBytes = 256;
// Recipients (or participants) of one message or chat.
inline constexpr std::size_t kMaxRecipients = 10'000;
// Attachments of one message, and the length of each one's path.
inline constexpr std::size_t kMaxAttachments = 100;
inline constexpr std::size_t kMaxPathBytes = 4096;
// Entries of a dictionary argument (a push's user info, a notification's),
// nested ones and array elements included; each text in it is one text.
inline constexpr std::size_t kMaxDictionaryEntries = 256;

// Alerts and banners a host keeps for its listings; the oldest go first.
inline constexpr std::size_t kMaxKeptItems = 1000;

// Listings: items per page when the caller asks for 0, and at most.
inline constexpr std::uint32_t kDefaultPageSize = 100;
inline constexpr std::uint32_t kMaxPageSize = 1000;
// A listing's reply stops before the item that would take it past this size.
inline constexpr std::size_t kReplyBudgetBytes = std::size_t{4} << 20;

}  // namespace pelorin::sim::limits
