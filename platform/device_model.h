#pragma once

#include <string>

namespace pelorin::platform {

// The device's model name, as the platform's current device reports it
// ("iPhone" on a phone, "iPad", "iPod touch"). Set by the host at start;
// "iPhone" until then. Thread-safe.
std::string deviceModel();
void setDeviceModel(std::string model);

}  // namespace pelorin::platform
