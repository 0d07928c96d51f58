#include "sim/messaging_daemon/daemon_events.h"

namespace pelorin::sim {
nlohmann::json textJson(const Text& text) {
  return text ? nlohmann::json(*text) : nlohmann::json(nullptr);
}

nlohmann::json valueJson(const platform::Value& value) {
  using Kind = platform::Value::Kind;
  switch (value.kind()) {
    case Kind::kDictionary:
      return dictionaryJson(*value.asDictionary());
    case Kind::kArray: {
      auto array = nlohmann::json::array();
      for (const auto& item : *value.asArray()) array.push_back(valueJson(item));
      return array;
    }
    case Kind::kString:
      return *value.asString();
    case Kind::kInteger:
      return *value.asInteger();
    case Kind::kReal:
      return *value.asReal();
    case Kind::kBoolean:
      return *value.asBoolean();
    case Kind::kData: {
      static constexpr char kHex[] = "0123456789abcdef";
      std::string hex;
      for (std::uint8_t byte : *value.asData()) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 15];
      }
      return {{"data", hex}};
    }
    case Kind::kDate:
      return {{"date", value.asDate()->secondsSince2001}};
  }
  return nullptr;
}

nlohmann::json dictionaryJson(const platform::Dictionary& dictionary) {
  auto object = nlohmann::json::object();
  for (const auto& [key, item] : dictionary) object[key] = valueJson(item);
  return object;
}

nlohmann::json messageJson(const StoredMessage& message) {
  nlohmann::json carrierRecipients = nullptr;
  if (message.carrierRecipients) carrierRecipients = *message.carrierRecipients;
  return {{"serial", message.serial},
          {"service", message.service},
          {"direction", message.direction},
          {"sender", textJson(message.sender)},
          {"recipients", message.recipients},
          {"text", textJson(message.text)},
          {"state", message.state},
          {"messageId", message.messageId ? nlohmann::json(*message.messageId) : nullptr},
          {"guid", textJson(message.guid)},
          {"chatIdentifier", textJson(message.chatIdentifier)},
          {"attachments", message.attachments},
          {"errorCode", message.errorCode},
          {"carrierRecipients", carrierRecipients},
          {"time", message.time}};
}

std::string jsonLine(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace pelorin::sim
