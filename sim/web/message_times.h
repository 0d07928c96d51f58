#pragma once

#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <unordered_map>

namespace pelorin::sim::web {

// The daemon's store keeps no time for a message, so the web view shows when
// it first saw each one (by its serial): milliseconds since 1970, in
// "seenAt". Thread-safe.
class MessageTimes {
 public:
  // `message` (a message object of the daemon) with "seenAt" set: the time
  // its serial was first stamped, now when it is new. Other values pass as
  // they are.
  nlohmann::json stamp(nlohmann::json message);

 private:
  std::mutex mutex_;
  std::unordered_map<std::uint64_t, std::int64_t> seen_;  // guarded by mutex_
};

}  // namespace pelorin::sim::web
