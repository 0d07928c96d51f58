#include "sim/messages/control_interface.h"

#include <optional>
#include <vector>

#include "platform/linux/bus_connection.h"
#include "sim/messaging_daemon/argument_reader.h"
#include "sim/messaging_daemon/host_limits.h"

namespace pelorin::sim {
namespace {

constexpr char kRefused[] = "com.talvern.sim.Error.Refused";

int refuse(sd_bus_error* error, const std::string& why) {
  return sd_bus_error_set(error, kRefused, why.c_str());
}

struct SendArguments {
  std::string service;
  std::vector<std::string> recipients;
  std::string text;
  std::vector<std::string> attachments;
  bool onService = false;
};

// The arguments of Send; nothing, with the reason in `why`, when refused.
std::optional<SendArguments> readSend(sd_bus_message* call, std::string& why) {
  ArgumentReader in(call);
  SendArguments arguments;
  arguments.service = in.text("service", limits::kMaxAddressBytes);
  arguments.recipients = in.texts("recipients", limits::kMaxRecipients, limits::kMaxAddressBytes);
  arguments.text = in.text("text", limits::kMaxTextBytes);
  arguments.attachments = in.texts("attachments", limits::kMaxAttachments, limits::kMaxPathBytes);
  arguments.onService = in.flag("onService");
  if (!in.refusal()) return arguments;
  why = *in.refusal();
  return std::nullopt;
}

}  // namespace

const sd_bus_vtable MessagesControlInterface::kVTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Send", "sassasb", "b", &MessagesControlInterface::onSend,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ListAlerts", "uu", "s", &MessagesControlInterface::onListAlerts,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("Event", "s", 0), SD_BUS_VTABLE_END};

int MessagesControlInterface::attach(sd_bus* bus, const std::string& objectPath) {
  return sd_bus_add_object_vtable(bus, nullptr, objectPath.c_str(), kInterface, kVTable, this);
}

int MessagesControlInterface::onSend(sd_bus_message* call, void* self, sd_bus_error* error) {
  try {
    auto& control = *static_cast<MessagesControlInterface*>(self);
    std::string unreadable;
    auto arguments = readSend(call, unreadable);
    if (!arguments) return refuse(error, unreadable);
    if (auto why = control.app_.refusal(arguments->service, arguments->recipients)) {
      return refuse(error, *why);
    }
    // The call is answered later, from the main loop, with the send's result.
    sd_bus_message_ref(call);
    control.work_([&control, call, arguments = std::move(*arguments)] {
      std::optional<bool> result;
      try {
        result = control.app_.send(arguments.service, arguments.recipients, arguments.text,
                                   arguments.attachments, arguments.onService);
      } catch (...) {
        result.reset();  // nothing a tweak throws may stop the host
      }
      control.mainLoop_->perform([call, result] {
        if (result) {
          sd_bus_reply_method_return(call, "b", static_cast<int>(*result));
        } else {
          sd_bus_reply_method_errorf(call, kRefused, "the send failed");
        }
        sd_bus_message_unref(call);
      });
    });
    return 1;
  } catch (const std::exception& e) {
    return refuse(error, std::string("failed: ") + e.what());
  } catch (...) {
    return refuse(error, "failed");
  }
}

int MessagesControlInterface::onListAlerts(sd_bus_message* call, void* self, sd_bus_error* error) {
  try {
    ArgumentReader in(call);
    const auto offset = in.number("offset");
    const auto limit = in.number("limit");
    if (in.refusal()) return refuse(error, *in.refusal());
    const auto& alerts = static_cast<MessagesControlInterface*>(self)->app_.alerts();
    return platform::bus::replyWithText(call, alerts.page(offset, limit));
  } catch (const std::exception& e) {
    return refuse(error, std::string("failed: ") + e.what());
  } catch (...) {
    return refuse(error, "failed");
  }
}

}  // namespace pelorin::sim
