#pragma once

#include <nlohmann/json.hpp>

namespace pelorin::ctl {

// The route an outgoing text took, read from its element in the daemon's
// store: "carrier" (the carrier sent it to its recipients),
// "carrier-to-access-number" (the carrier sent it to other numbers),
// "google-voice" (taken over and sent or failed without the carrier),
// "imessage"; null for an incoming text and while no route was taken yet.
nlohmann::json routeTaken(const nlohmann::json& message);

}  // namespace pelorin::ctl
