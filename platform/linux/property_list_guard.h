#pragma once

#include <cstdint>
#include <span>

namespace pelorin::platform {

// Deeper nesting of collections than this is not a file the system writes;
// refusing it keeps every recursion over a property list bounded.
inline constexpr int kMaxPropertyListDepth = 64;

// Most nodes a binary list may unfold into (its objects can be shared, and
// libplist copies a shared object at each reference).
inline constexpr std::uint64_t kMaxPropertyListNodes = std::uint64_t{1} << 18;

// Whether `bytes` can be handed to libplist 2.2 without reaching one of its
// faults: it aborts on a string or key holding a NUL, recurses without limit
// on deep nesting, and unfolds shared binary objects into trees of any size.
// False also for a binary list whose structure is malformed (objects or
// references outside the file, cycles, unknown object kinds). Any thread.
bool isSafeForLibplist(std::span<const std::uint8_t> bytes);

}  // namespace pelorin::platform
