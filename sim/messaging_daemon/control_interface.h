#pragma once

#include <systemd/sd-bus.h>

#include <string>

#include "sim/messaging_daemon/messaging_daemon.h"

namespace pelorin::sim {

// The daemon host's control interface on the session bus, through which a
// person, a script or a test drives the simulated device:
//
//   SendSMS(as recipients, s text, u parts) -> u messageId
//   SendChatMessage(s service, s chatIdentifier, as participants, s text,
//                   as attachments) -> s guid
//   CreateChat(s service, s chatIdentifier, as participants)
//   DeliverSMS(s sender, s text) -> u messageId
//   PostLocalNotification(s name, a{sv} userInfo)
//   ListMessages(u offset, u limit) -> s json   (one page, as in listing_page.h)
//   signal Event(s json)
//
// Handlers run on the thread that serves the bus. They answer at once: the
// send or post a call starts runs afterwards, on the daemon's executor, so a
// tweak's hook that waits never holds a reply back. Bad input, input beyond
// the limits of host_limits.h among it, is answered with the error
// com.talvern.sim.Error.Refused and changes nothing; nothing a client or a
// tweak throws leaves a handler.
class ControlInterface {
 public:
  static constexpr char kInterface[] = "com.talvern.sim.MessagingDaemon";

  explicit ControlInterface(MessagingDaemon& daemon) : daemon_(daemon) {}
  ControlInterface(const ControlInterface&) = delete;
  ControlInterface& operator=(const ControlInterface&) = delete;

  // Serves the interface at `objectPath` on `bus`; the interface must outlive it.
  int attach(sd_bus* bus, const std::string& objectPath);

 private:
  static int onSendSMS(sd_bus_message* call, void* self, sd_bus_error* error);
  static int onSendChatMessage(sd_bus_message* call, void* self, sd_bus_error* error);
  static int onCreateChat(sd_bus_message* call, void* self, sd_bus_error* error);
  static int onDeliverSMS(sd_bus_message* call, void* self, sd_bus_error* error);
  static int onPostLocalNotification(sd_bus_message* call, void* self, sd_bus_error* error);
  static int onListMessages(sd_bus_message* call, void* self, sd_bus_error* error);

  static const sd_bus_vtable kVTable[];
  MessagingDaemon& daemon_;
};

}  // namespace pelorin::sim
