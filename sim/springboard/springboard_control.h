#pragma once

#include <systemd/sd-bus.h>

#include <string>

#include "sim/springboard/springboard.h"

namespace pelorin::sim {

// The home-screen host's control interface on the session bus:
//
//   DeliverPush(s topic, a{sv} userInfo) -> b shown
//   ListAlerts(u offset, u limit) -> s json    (a page of {title, message, buttons})
//   ListBanners(u offset, u limit) -> s json   (a page of {topic, alert})
//   signal Event(s json)       (every push, banner and alert)
//
// Handlers run on the thread that serves the bus. A push is handled before
// the reply (the tweak's replacement only hands the text on, it never waits
// on the network). The listings come in pages (listing_page.h) of the newest
// alerts and banners kept. Bad input, input beyond the limits of
// host_limits.h among it, is answered with com.talvern.sim.Error.Refused and
// changes nothing; nothing a tweak throws leaves a handler.
class SpringBoardControl {
 public:
  static constexpr char kInterface[] = "com.talvern.sim.SpringBoard";

  explicit SpringBoardControl(SpringBoard& springBoard) : springBoard_(springBoard) {}
  SpringBoardControl(const SpringBoardControl&) = delete;
  SpringBoardControl& operator=(const SpringBoardControl&) = delete;

  // Serves the interface at `objectPath` on `bus`; the interface must outlive it.
  int attach(sd_bus* bus, const std::string& objectPath);

 private:
  static int onDeliverPush(sd_bus_message* call, void* self, sd_bus_error* error);
  static int onListAlerts(sd_bus_message* call, void* self, sd_bus_error* error);
  static int onListBanners(sd_bus_message* call, void* self, sd_bus_error* error);

  static const sd_bus_vtable kVTable[];
  SpringBoard& springBoard_;
};

}  // namespace pelorin::sim
