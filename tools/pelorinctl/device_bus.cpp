#include "tools/pelorinctl/device_bus.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pelorin::ctl {
namespace {

constexpr char kHowToStart[] = "start a device with: eval \"$(pelorin-sim up --gv-service)\"";

void reportNoBus(const std::string& why) {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address == nullptr || *address == '\0') {
    std::fprintf(stderr, "pelorinctl: no device here (DBUS_SESSION_BUS_ADDRESS is not set); %s\n",
                 kHowToStart);
  } else {
    std::fprintf(stderr, "pelorinctl: cannot reach the device's bus at %s (%s); %s\n", address,
                 why.c_str(), kHowToStart);
  }
}

struct ErrorFree {
  void operator()(sd_bus_error* error) const { sd_bus_error_free(error); }
};

}  // namespace

platform::bus::BusPtr openDeviceBus() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address == nullptr || *address == '\0') {
    reportNoBus("");
    return nullptr;
  }
  std::string why;
  auto bus = platform::bus::openBus(std::nullopt, &why);
  if (!bus) reportNoBus(why);
  return bus;
}

bool deviceBusReachable() {
  return openDeviceBus() != nullptr;
}

bool hostRunning(sd_bus* bus, const DeviceHost& host) {
  sd_bus_message* reply = nullptr;
  const int r = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                   "org.freedesktop.DBus", "NameHasOwner", nullptr, &reply, "s",
                                   host.busName);
  platform::bus::MessagePtr replyGuard(reply);
  int owned = 0;
  return r >= 0 && sd_bus_message_read_basic(reply, 'b', &owned) >= 0 && owned;
}

std::string hostCallFailure(const DeviceHost& host, int result, const sd_bus_error& error) {
  if (sd_bus_error_has_name(&error, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
      sd_bus_error_has_name(&error, SD_BUS_ERROR_NAME_HAS_NO_OWNER)) {
    return std::string(host.title) + " is not running on this device (start it with " +
           "pelorin-sim restart " + host.simName + ")";
  }
  return std::string(host.title) +
         " did not answer: " + (error.message ? error.message : platform::bus::errorText(result));
}

std::optional<nlohmann::json> readListing(sd_bus* bus, const DeviceHost& host, const char* method,
                                          std::string& why) {
  const std::string path = platform::bus::objectPathForName(host.busName).value_or("/");
  auto items = nlohmann::json::array();
  for (std::uint32_t offset = 0;;) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    std::unique_ptr<sd_bus_error, ErrorFree> errorGuard(&error);
    sd_bus_message* reply = nullptr;
    const int r = sd_bus_call_method(bus, host.busName, path.c_str(), host.busName, method, &error,
                                     &reply, "uu", offset, std::uint32_t{0});
    platform::bus::MessagePtr replyGuard(reply);
    if (r < 0) {
      why = hostCallFailure(host, r, error);
      return std::nullopt;
    }
    const char* text = nullptr;
    if (sd_bus_message_read_basic(reply, 's', &text) < 0 || text == nullptr) break;
    auto page = nlohmann::json::parse(text, nullptr, false);
    if (!page.is_object() || !page["items"].is_array()) break;
    for (auto& item : page["items"]) items.push_back(std::move(item));
    // A page always holds an item while more remain, so this ends.
    if (!page.value("more", false) || page["items"].empty()) return items;
    offset += static_cast<std::uint32_t>(page["items"].size());
  }
  why = std::string("unexpected reply from ") + host.title;
  return std::nullopt;
}

}  // namespace pelorin::ctl
