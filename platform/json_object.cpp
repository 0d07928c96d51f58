// Values are rendered by nlohmann-json; this class only keeps the members in
// the order added and the one-line layout ("key": value, ...) that scripts
// and tests read. Bytes that are not UTF-8 are replaced (U+FFFD), so every
// line is valid JSON whatever the input.
#include "platform/json_object.h"

#include <nlohmann/json.hpp>

namespace pelorin::platform {
namespace {

std::string render(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string jsonString(std::string_view text) {
  return render(nlohmann::json(std::string(text)));
}

void JsonObject::addKey(std::string_view key) {
  if (!body_.empty()) body_ += ",";
  body_ += jsonString(key) + ":";
}

JsonObject& JsonObject::add(std::string_view key, const Text& value) {
  addKey(key);
  body_ += value ? jsonString(*value) : "null";
  return *this;
}

JsonObject& JsonObject::add(std::string_view key, std::int64_t value) {
  addKey(key);
  body_ += render(value);
  return *this;
}

JsonObject& JsonObject::add(std::string_view key, bool value) {
  addKey(key);
  body_ += render(value);
  return *this;
}

JsonObject& JsonObject::add(std::string_view key, const std::vector<std::string>& texts) {
  std::string array = "[";
  for (std::size_t i = 0; i < texts.size(); ++i) array += (i ? ", " : "") + jsonString(texts[i]);
  addKey(key);
  body_ += array + "]";
  return *this;
}

JsonObject& JsonObject::add(std::string_view key,
                            const std::optional<std::vector<std::string>>& texts) {
  if (texts) return add(key, *texts);
  addKey(key);
  body_ += "null";
  return *this;
}

JsonObject& JsonObject::addRaw(std::string_view key, std::string_view json) {
  addKey(key);
  // Only valid JSON is taken as it is; anything else would spoil the line.
  body_ += nlohmann::json::accept(json) ? std::string(json) : "null";
  return *this;
}

}  // namespace pelorin::platform
