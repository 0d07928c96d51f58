#include "sim/messaging_daemon/argument_reader.h"

#include <string_view>

#include "platform/linux/bus_connection.h"
#include "sim/messaging_daemon/host_limits.h"

namespace pelorin::sim {
namespace {

std::string longerThan(std::size_t bytes) {
  return "longer than " + std::to_string(bytes) + " bytes";
}

// Why `value` goes beyond the dictionary limits, counting its entries into
// `entries`; nothing when it stays within them.
std::optional<std::string> beyondLimits(const platform::Value& value, std::size_t& entries) {
  auto tooLong = [](std::size_t size) { return size > limits::kMaxTextBytes; };
  auto entry = [&entries]() -> std::optional<std::string> {
    if (++entries <= limits::kMaxDictionaryEntries) return std::nullopt;
    return "more than " + std::to_string(limits::kMaxDictionaryEntries) + " entries";
  };
  if (const auto* text = value.asString(); text && tooLong(text->size())) {
    return "a text " + longerThan(limits::kMaxTextBytes);
  }
  if (const auto* data = value.asData(); data && tooLong(data->size())) {
    return "data " + longerThan(limits::kMaxTextBytes);
  }
  if (const auto* array = value.asArray()) {
    for (const auto& element : *array) {
      if (auto why = entry()) return why;
      if (auto why = beyondLimits(element, entries)) return why;
    }
  }
  if (const auto* dictionary = value.asDictionary()) {
    for (const auto& [key, element] : *dictionary) {
      if (auto why = entry()) return why;
      if (tooLong(key.size())) return "a key " + longerThan(limits::kMaxTextBytes);
      if (auto why = beyondLimits(element, entries)) return why;
    }
  }
  return std::nullopt;
}

}  // namespace

void ArgumentReader::refuse(const char* what, const std::string& why) {
  if (!refusal_) refusal_ = std::string(what) + ": " + why;
}

std::string ArgumentReader::text(const char* what, std::size_t maxBytes) {
  const char* text = nullptr;
  if (!readable()) return {};
  if (sd_bus_message_read_basic(call_, 's', &text) <= 0 || text == nullptr) {
    refuse(what, "expected a text");
    return {};
  }
  const std::string_view value(text);
  if (value.size() > maxBytes) {
    refuse(what, longerThan(maxBytes));
    return {};
  }
  return std::string(value);
}

std::vector<std::string> ArgumentReader::texts(const char* what, std::size_t maxCount,
                                               std::size_t maxBytesEach) {
  if (!readable()) return {};
  std::string why;
  auto texts = platform::bus::readStringArray(call_, maxCount, maxBytesEach, &why);
  if (!texts) {
    refuse(what, why);
    return {};
  }
  return std::move(*texts);
}

platform::Dictionary ArgumentReader::dictionary(const char* what) {
  if (!readable()) return {};
  auto dictionary = platform::bus::readDictionary(call_);
  if (!dictionary) {
    refuse(what, "expected a dictionary");
    return {};
  }
  platform::Value value(std::move(*dictionary));
  std::size_t entries = 0;
  if (auto why = beyondLimits(value, entries)) {
    refuse(what, *why);
    return {};
  }
  return std::move(*value.asDictionary());
}

std::uint32_t ArgumentReader::number(const char* what) {
  std::uint32_t number = 0;
  if (readable() && sd_bus_message_read_basic(call_, 'u', &number) <= 0) {
    refuse(what, "expected a number");
  }
  return readable() ? number : 0;
}

bool ArgumentReader::flag(const char* what) {
  int flag = 0;
  if (readable() && sd_bus_message_read_basic(call_, 'b', &flag) <= 0) {
    refuse(what, "expected a boolean");
  }
  return readable() && flag != 0;
}

}  // namespace pelorin::sim
