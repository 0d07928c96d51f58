#pragma once

#include <systemd/sd-bus.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/run_loop.h"
#include "sim/messages/messages_app.h"

namespace pelorin::sim {

// The Messages host's control interface on the session bus:
//
//   Send(s service, as recipients, s text, as attachments, b onService)
//       -> b result
//   ListAlerts(u offset, u limit) -> s json   (a page of {title, message, buttons})
//   signal Event(s json)
//
// Send composes the message in the conversation with those recipients and
// calls the conversation's send (on the service when onService); the reply is
// the send's result. The handler only checks the arguments: the send runs on
// the host's send thread (`work`), and the reply goes out from the main loop
// (which owns the bus) when it is done, so the bus is served meanwhile.
// ListAlerts pages (listing_page.h) through the newest alerts the host's
// tweaks showed. Bad arguments, those beyond the limits of host_limits.h among
// them, are answered with com.talvern.sim.Error.Refused.
class MessagesControlInterface {
 public:
  static constexpr char kInterface[] = "com.talvern.sim.Messages";

  using Executor = std::function<void(std::function<void()>)>;
  MessagesControlInterface(MessagesApp& app, std::shared_ptr<platform::RunLoop> mainLoop,
                           Executor work)
      : app_(app), mainLoop_(std::move(mainLoop)), work_(std::move(work)) {}
  MessagesControlInterface(const MessagesControlInterface&) = delete;
  MessagesControlInterface& operator=(const MessagesControlInterface&) = delete;

  // Serves the interface at `objectPath` on `bus`; the interface must outlive it.
  int attach(sd_bus* bus, const std::string& objectPath);

 private:
  static int onSend(sd_bus_message* call, void* self, sd_bus_error* error);
  static int onListAlerts(sd_bus_message* call, void* self, sd_bus_error* error);

  static const sd_bus_vtable kVTable[];
  MessagesApp& app_;
  const std::shared_ptr<platform::RunLoop> mainLoop_;
  const Executor work_;
};

}  // namespace pelorin::sim
