#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace pelorin::platform {

// Builds one JSON object on one line, members in the order added, as
// command-line tools and hosts print them for scripts and tests. The line is
// always valid JSON: bytes of a text that are not UTF-8 become U+FFFD.
class JsonObject {
 public:
  JsonObject& add(std::string_view key, const Text& value);  // absent: null
  JsonObject& add(std::string_view key, const char* value) { return add(key, Text(value)); }
  JsonObject& add(std::string_view key, const std::string& value) { return add(key, Text(value)); }
  JsonObject& add(std::string_view key, std::int64_t value);
  JsonObject& add(std::string_view key, int value) { return add(key, std::int64_t{value}); }
  JsonObject& add(std::string_view key, bool value);
  JsonObject& add(std::string_view key, const std::vector<std::string>& texts);  // an array
  JsonObject& add(std::string_view key, const std::optional<std::vector<std::string>>& texts);
  // A value already in JSON (an array or a nested object); null when it is
  // not valid JSON.
  JsonObject& addRaw(std::string_view key, std::string_view json);

  std::string str() const { return body_.empty() ? "{}" : "{" + body_ + "}"; }

 private:
  void addKey(std::string_view key);
  std::string body_;
};

// `text` as a JSON string literal, quotes included, invalid UTF-8 replaced.
std::string jsonString(std::string_view text);

}  // namespace pelorin::platform
