#include "tools/pelorinctl/message_route.h"

namespace pelorin::ctl {

nlohmann::json routeTaken(const nlohmann::json& message) {
  if (!message.is_object() || message.value("direction", "") != "outgoing") return nullptr;
  if (message.value("service", "") == "iMessage") return "imessage";
  const auto carrier = message.find("carrierRecipients");
  if (carrier != message.end() && carrier->is_array()) {
    return *carrier == message.value("recipients", nlohmann::json::array())
               ? "carrier"
               : "carrier-to-access-number";
  }
  const std::string state = message.value("state", "");
  if (state == "sent" || state == "failed") return "google-voice";
  return nullptr;
}

}  // namespace pelorin::ctl
