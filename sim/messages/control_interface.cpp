#include "sim/messages/control_interface.h"

#include <cstdlib>
#include <optional>
#include <vector>

namespace pelorin::sim {
namespace {

constexpr char kRefused[] = "com.talvern.sim.Error.Refused";

std::optional<std::vector<std::string>> readStrings(sd_bus_message* call) {
  char** strings = nullptr;
  if (sd_bus_message_read_strv(call, &strings) < 0) return std::nullopt;
  std::vector<std::string> result;
  for (char** s = strings; s && *s; ++s) {
    result.emplace_back(*s);
    std::free(*s);
  }
  std::free(strings);
  return result;
}

std::optional<std::string> readString(sd_bus_message* call) {
  const char* text = nullptr;
  if (sd_bus_message_read_basic(call, 's', &text) < 0 || text == nullptr) return std::nullopt;
  return std::string(text);
}

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

std::optional<SendArguments> readSend(sd_bus_message* call) {
  auto service = readString(call);
  auto recipients = readStrings(call);
  auto text = readString(call);
  auto attachments = readStrings(call);
  int onService = 0;
  if (!service || !recipients || !text || !attachments ||
      sd_bus_message_read_basic(call, 'b', &onService) < 0) {
    return std::nullopt;
  }
  return SendArguments{*service, *recipients, *text, *attachments, onService != 0};
}

}  // namespace

const sd_bus_vtable MessagesControlInterface::kVTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Send", "sassasb", "b", &MessagesControlInterface::onSend,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("Event", "s", 0), SD_BUS_VTABLE_END};

int MessagesControlInterface::attach(sd_bus* bus, const std::string& objectPath) {
  return sd_bus_add_object_vtable(bus, nullptr, objectPath.c_str(), kInterface, kVTable, this);
}

int MessagesControlInterface::onSend(sd_bus_message* call, void* self, sd_bus_error* error) {
  try {
    auto& control = *static_cast<MessagesControlInterface*>(self);
    auto arguments = readSend(call);
    if (!arguments) {
      return refuse(error, "expected service, recipients, text, attachments and onService");
    }
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

}  // namespace pelorin::sim
