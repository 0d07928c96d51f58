#include "sim/web/message_times.h"

#include <chrono>

namespace pelorin::sim::web {

nlohmann::json MessageTimes::stamp(nlohmann::json message) {
  if (!message.is_object() || !message.contains("serial")) return message;
  const auto& serial = message["serial"];
  if (!serial.is_number_unsigned()) return message;
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  std::lock_guard lock(mutex_);
  message["seenAt"] = seen_.try_emplace(serial.get<std::uint64_t>(), now).first->second;
  return message;
}

}  // namespace pelorin::sim::web
