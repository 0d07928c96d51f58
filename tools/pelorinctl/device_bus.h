#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "platform/linux/bus_connection.h"

// The simulated device's session bus as the commands that talk to its hosts
// reach it: every failure is said on standard error in words that tell a
// person what to do (start a device, restart a host).
namespace pelorin::ctl {

// One host of the device: its bus name (also its interface; the object path
// is the name with dots turned into slashes) and the name pelorin-sim uses.
struct DeviceHost {
  const char* busName;
  const char* simName;  // pelorin-sim restart NAME
  const char* title;    // for people: "the home screen"
};

inline constexpr DeviceHost kMessagingDaemonHost{"com.talvern.sim.MessagingDaemon", "daemon",
                                                 "the messaging daemon"};
inline constexpr DeviceHost kHomeScreenHost{"com.talvern.sim.SpringBoard", "springboard",
                                            "the home screen"};
inline constexpr DeviceHost kMessagesAppHost{"com.talvern.sim.Messages", "messages",
                                             "the Messages application"};

// The bus named by DBUS_SESSION_BUS_ADDRESS; null, with the reason and how
// to start a device printed, when there is none or it cannot be reached.
platform::bus::BusPtr openDeviceBus();

// Whether the device's bus can be reached now; prints as openDeviceBus does.
bool deviceBusReachable();

// Whether `host` is on the bus now.
bool hostRunning(sd_bus* bus, const DeviceHost& host);

// Why a call to `host` failed, for people: a host that is not on the bus is
// named with how to start it again.
std::string hostCallFailure(const DeviceHost& host, int result, const sd_bus_error& error);

// Every item of a host's listing `method` (u offset, u limit), read page by
// page, oldest first; nothing with the reason in `why` when a call fails or
// a reply is not a page.
std::optional<nlohmann::json> readListing(sd_bus* bus, const DeviceHost& host, const char* method,
                                          std::string& why);

}  // namespace pelorin::ctl
