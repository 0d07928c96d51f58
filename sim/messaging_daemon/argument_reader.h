#pragma once

#include <systemd/sd-bus.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/value.h"

namespace pelorin::sim {

// Reads a control call's arguments in order, each within its limit (see
// host_limits.h), in time linear in the call's size. The first argument that
// is missing or beyond its limit ends the reading: refusal() names it and the
// limit, and that read and every later one give an empty value. `what` names
// the argument in the refusal.
class ArgumentReader {
 public:
  explicit ArgumentReader(sd_bus_message* call) : call_(call) {}

  // A text of at most `maxBytes` bytes.
  std::string text(const char* what, std::size_t maxBytes);
  // An array of at most `maxCount` texts of at most `maxBytesEach` bytes each.
  std::vector<std::string> texts(const char* what, std::size_t maxCount, std::size_t maxBytesEach);
  // A dictionary of at most kMaxDictionaryEntries entries, nested entries and
  // array elements included, whose keys, texts and data are each at most
  // kMaxTextBytes long.
  platform::Dictionary dictionary(const char* what);
  std::uint32_t number(const char* what);
  bool flag(const char* what);

  // Why the call is refused; nothing while every read succeeded.
  const std::optional<std::string>& refusal() const { return refusal_; }

 private:
  bool readable() const { return !refusal_; }
  // Keeps the first refusal only.
  void refuse(const char* what, const std::string& why);

  sd_bus_message* const call_;
  std::optional<std::string> refusal_;
};

}  // namespace pelorin::sim
