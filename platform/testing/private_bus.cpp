#include "platform/testing/private_bus.h"

#include <systemd/sd-bus.h>

#include <cstdlib>
#include <thread>

#include "platform/testing/child_process.h"

namespace pelorin::platform::testing {
namespace {

bool nameHasOwner(sd_bus* bus, const std::string& name) {
  sd_bus_message* reply = nullptr;
  int owned = 0;
  int r = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus", "NameHasOwner", nullptr, &reply, "s",
                             name.c_str());
  if (r >= 0) r = sd_bus_message_read_basic(reply, 'b', &owned);
  sd_bus_message_unref(reply);
  return r >= 0 && owned != 0;
}

}  // namespace

PrivateBus::PrivateBus() {
  if (const char* previous = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
    hadPreviousAddress_ = true;
    previousAddress_ = previous;
  }
  daemon_ = std::make_unique<ChildProcess>(std::vector<std::string>{
      "dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"});
  if (auto line = daemon_->readLine()) address_ = *line;
  if (!address_.empty()) ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

PrivateBus::~PrivateBus() {
  if (hadPreviousAddress_) {
    ::setenv("DBUS_SESSION_BUS_ADDRESS", previousAddress_.c_str(), 1);
  } else {
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  }
}

void PrivateBus::stop() {
  daemon_->terminate();
}

bool PrivateBus::waitForName(const std::string& name, std::chrono::milliseconds timeout) const {
  return waitForOwner(name, true, timeout);
}

bool PrivateBus::waitForNameGone(const std::string& name, std::chrono::milliseconds timeout) const {
  return waitForOwner(name, false, timeout);
}

bool PrivateBus::waitForOwner(const std::string& name, bool owned,
                              std::chrono::milliseconds timeout) const {
  sd_bus* bus = nullptr;
  if (sd_bus_new(&bus) < 0) return false;
  sd_bus_set_address(bus, address_.c_str());
  sd_bus_set_bus_client(bus, 1);
  bool reached = false;
  if (sd_bus_start(bus) >= 0) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!(reached = nameHasOwner(bus, name) == owned) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  sd_bus_flush_close_unref(bus);
  return reached;
}

}  // namespace pelorin::platform::testing
