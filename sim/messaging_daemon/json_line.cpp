#include "sim/messaging_daemon/json_line.h"

#include <cstdio>

namespace pelorin::sim {

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

void JsonLine::addKey(std::string_view key) {
  if (!body_.empty()) body_ += ",";
  body_ += jsonString(key) + ":";
}

JsonLine& JsonLine::add(std::string_view key, const Text& text) {
  return addRaw(key, text ? jsonString(*text) : "null");
}

JsonLine& JsonLine::add(std::string_view key, std::int64_t number) {
  return addRaw(key, std::to_string(number));
}

JsonLine& JsonLine::add(std::string_view key, bool flag) {
  return addRaw(key, flag ? "true" : "false");
}

JsonLine& JsonLine::add(std::string_view key, const std::vector<std::string>& texts) {
  std::string array = "[";
  for (std::size_t i = 0; i < texts.size(); ++i) array += (i ? "," : "") + jsonString(texts[i]);
  return addRaw(key, array + "]");
}

JsonLine& JsonLine::add(std::string_view key,
                        const std::optional<std::vector<std::string>>& texts) {
  return texts ? add(key, *texts) : addRaw(key, "null");
}

JsonLine& JsonLine::addRaw(std::string_view key, std::string_view json) {
  addKey(key);
  body_ += json;
  return *this;
}

}  // namespace pelorin::sim
