#pragma once
// The benchmarks' side of a simulated device: one bus connection on one
// thread, which pings a host and watches the daemon host's events for the
// text it is waiting for.
#include <systemd/sd-bus.h>

#include <chrono>
#include <string>
#include <string_view>

class DaemonBusDriver {
 public:
  static constexpr const char* kDaemon = "com.talvern.sim.MessagingDaemon";
  static constexpr const char* kDaemonPath = "/com/talvern/sim/MessagingDaemon";

  DaemonBusDriver() {
    if (sd_bus_open_user(&bus_) < 0) bus_ = nullptr;
    if (bus_) {
      const std::string rule = std::string("type='signal',path='") + kDaemonPath + "',interface='" +
                               kDaemon + "',member='Event'";
      sd_bus_add_match(bus_, nullptr, rule.c_str(), &DaemonBusDriver::onEvent, this);
    }
  }
  ~DaemonBusDriver() { sd_bus_flush_close_unref(bus_); }
  DaemonBusDriver(const DaemonBusDriver&) = delete;
  DaemonBusDriver& operator=(const DaemonBusDriver&) = delete;

  bool ok() const { return bus_ != nullptr; }

  // A bare round trip: org.freedesktop.DBus.Peer.Ping to `service`.
  bool ping(const char* service, const char* path) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const int r = sd_bus_call_method(bus_, service, path, "org.freedesktop.DBus.Peer", "Ping",
                                     &error, &reply, "");
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return r >= 0;
  }

  // From now on waits for the stored message with this text.
  void expect(const std::string& text) {
    waitingFor_ = "\"text\":\"" + text + "\"";
    stored_ = false;
  }

  // Processes events until the expected message was stored.
  bool waitUntilStored(std::chrono::seconds timeout) {
    const auto limit = std::chrono::steady_clock::now() + timeout;
    while (!stored_) {
      if (std::chrono::steady_clock::now() > limit) return false;
      if (sd_bus_process(bus_, nullptr) > 0) continue;
      sd_bus_wait(bus_, 100'000);
    }
    return true;
  }

 protected:
  sd_bus* bus_ = nullptr;

 private:
  static int onEvent(sd_bus_message* m, void* self, sd_bus_error*) {
    auto* driver = static_cast<DaemonBusDriver*>(self);
    const char* json = nullptr;
    if (sd_bus_message_read_basic(m, 's', &json) >= 0 && json != nullptr &&
        std::string_view(json).find(driver->waitingFor_) != std::string_view::npos) {
      driver->stored_ = true;
    }
    return 0;
  }

  std::string waitingFor_;
  bool stored_ = false;
};
