#include "platform/json_object.h"

#include <cstdio>

namespace pelorin::platform {

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

void JsonObject::addKey(std::string_view key) {
  if (!body_.empty()) body_ += ", ";
  body_ += jsonString(key) + ": ";
}

JsonObject& JsonObject::add(std::string_view key, const Text& value) {
  addKey(key);
  body_ += value ? jsonString(*value) : "null";
  return *this;
}

JsonObject& JsonObject::add(std::string_view key, std::int64_t value) {
  addKey(key);
  body_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::add(std::string_view key, bool value) {
  addKey(key);
  body_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::add(std::string_view key, const std::vector<std::string>& texts) {
  std::string array = "[";
  for (std::size_t i = 0; i < texts.size(); ++i) array += (i ? ", " : "") + jsonString(texts[i]);
  return addRaw(key, array + "]");
}

JsonObject& JsonObject::add(std::string_view key,
                            const std::optional<std::vector<std::string>>& texts) {
  return texts ? add(key, *texts) : addRaw(key, "null");
}

JsonObject& JsonObject::addRaw(std::string_view key, std::string_view json) {
  addKey(key);
  body_ += json;
  return *this;
}

}  // namespace pelorin::platform
