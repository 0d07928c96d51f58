#pragma once

#include <string_view>

#include "platform/messaging_center.h"

namespace pelorin::platform {

// The bootstrap unlock library, bound at run time (dynamic_library.h) rather
// than linked: the library and its two functions may be missing.
inline constexpr std::string_view kRocketBootstrapLibrary = "/usr/lib/librocketbootstrap.so";
inline constexpr std::string_view kRocketBootstrapApplySymbol =
    "rocketbootstrap_distributedmessagingcenter_apply";
inline constexpr std::string_view kRocketBootstrapUnlockSymbol = "rocketbootstrap_unlock";

// Lets a messaging centre be served and reached through the bootstrap.
using RocketBootstrapApply = void(CPDistributedMessagingCenter* center);
// Opens a service name (ASCII) for lookup by other processes; 0 on success.
using RocketBootstrapUnlock = int(const char* serviceName);

}  // namespace pelorin::platform
