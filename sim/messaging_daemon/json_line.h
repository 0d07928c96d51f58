#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace pelorin::sim {

// Builds one JSON object on one line, members in the order added.
class JsonLine {
 public:
  JsonLine& add(std::string_view key, const Text& text);  // absent: null
  JsonLine& add(std::string_view key, const char* text) { return add(key, Text(text)); }
  JsonLine& add(std::string_view key, std::int64_t number);
  JsonLine& add(std::string_view key, bool flag);
  JsonLine& add(std::string_view key, const std::vector<std::string>& texts);
  JsonLine& add(std::string_view key, const std::optional<std::vector<std::string>>& texts);
  JsonLine& addRaw(std::string_view key, std::string_view json);

  std::string str() const { return "{" + body_ + "}"; }

 private:
  void addKey(std::string_view key);
  std::string body_;
};

// `text` as a JSON string literal (bytes that are not UTF-8 pass unchanged).
std::string jsonString(std::string_view text);

}  // namespace pelorin::sim
