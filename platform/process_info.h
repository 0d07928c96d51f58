#pragma once

#include <string>

#include "platform/text.h"

namespace pelorin::platform {

// The identity of the current process, set by the host process at start.

// The main application bundle's identifier; absent in a process without one.
Text bundleIdentifier();
void setBundleIdentifier(Text identifier);

// The executable's name (as the tweak loader's filters see it).
std::string processName();
void setProcessName(std::string name);

}  // namespace pelorin::platform
