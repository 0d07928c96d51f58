#include "sim/messaging_daemon/control_interface.h"

#include <cstdlib>
#include <functional>

#include "platform/linux/bus_connection.h"
#include "platform/notification_center.h"
#include "sim/messaging_daemon/daemon_events.h"
#include "sim/messaging_daemon/host_limits.h"
#include "sim/messaging_daemon/listing_page.h"

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

// Runs a handler's body so that nothing it throws reaches sd-bus.
int guarded(sd_bus_error* error, const std::function<int()>& body) {
  try {
    return body();
  } catch (const std::exception& e) {
    return refuse(error, std::string("failed: ") + e.what());
  } catch (...) {
    return refuse(error, "failed");
  }
}

template <class T>
int replyOr(sd_bus_message* call, sd_bus_error* error, const Outcome<T>& outcome,
            const std::function<int(sd_bus_message*, const T&)>& reply) {
  if (!outcome.value) return refuse(error, outcome.error);
  return reply(call, *outcome.value);
}

}  // namespace

const sd_bus_vtable ControlInterface::kVTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("SendSMS", "assu", "u", &ControlInterface::onSendSMS, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SendChatMessage", "ssassas", "s", &ControlInterface::onSendChatMessage,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("CreateChat", "ssas", "", &ControlInterface::onCreateChat,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("DeliverSMS", "ss", "u", &ControlInterface::onDeliverSMS,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("PostLocalNotification", "sa{sv}", "", &ControlInterface::onPostLocalNotification,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ListMessages", "uu", "s", &ControlInterface::onListMessages,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("Event", "s", 0),
    SD_BUS_VTABLE_END};

int ControlInterface::attach(sd_bus* bus, const std::string& objectPath) {
  return sd_bus_add_object_vtable(bus, nullptr, objectPath.c_str(), kInterface, kVTable, this);
}

int ControlInterface::onSendSMS(sd_bus_message* call, void* self, sd_bus_error* error) {
  return guarded(error, [&] {
    auto recipients = readStrings(call);
    auto text = readString(call);
    std::uint32_t parts = 0;
    if (!recipients || !text || sd_bus_message_read_basic(call, 'u', &parts) < 0) {
      return refuse(error, "expected recipients, text and number of parts");
    }
    auto& daemon = static_cast<ControlInterface*>(self)->daemon_;
    return replyOr<std::uint32_t>(call, error, daemon.sendSMS(*recipients, *text, parts),
                                  [](sd_bus_message* m, const std::uint32_t& id) {
                                    return sd_bus_reply_method_return(m, "u", id);
                                  });
  });
}

int ControlInterface::onSendChatMessage(sd_bus_message* call, void* self, sd_bus_error* error) {
  return guarded(error, [&] {
    auto service = readString(call);
    auto chat = readString(call);
    auto participants = readStrings(call);
    auto text = readString(call);
    auto attachments = readStrings(call);
    if (!service || !chat || !participants || !text || !attachments) {
      return refuse(error, "expected service, chat identifier, participants, text and attachments");
    }
    auto& daemon = static_cast<ControlInterface*>(self)->daemon_;
    auto outcome = daemon.sendChatMessage(*service, *chat, *participants, *text, *attachments);
    return replyOr<std::string>(call, error, outcome,
                                [](sd_bus_message* m, const std::string& guid) {
                                  return sd_bus_reply_method_return(m, "s", guid.c_str());
                                });
  });
}

int ControlInterface::onCreateChat(sd_bus_message* call, void* self, sd_bus_error* error) {
  return guarded(error, [&] {
    auto service = readString(call);
    auto chat = readString(call);
    auto participants = readStrings(call);
    if (!service || !chat || !participants) {
      return refuse(error, "expected service, chat identifier and participants");
    }
    auto& daemon = static_cast<ControlInterface*>(self)->daemon_;
    return replyOr<bool>(
        call, error, daemon.createChat(*service, *chat, *participants),
        [](sd_bus_message* m, const bool&) { return sd_bus_reply_method_return(m, ""); });
  });
}

int ControlInterface::onDeliverSMS(sd_bus_message* call, void* self, sd_bus_error* error) {
  return guarded(error, [&] {
    auto sender = readString(call);
    auto text = readString(call);
    if (!sender || !text) return refuse(error, "expected sender and text");
    auto& daemon = static_cast<ControlInterface*>(self)->daemon_;
    return replyOr<std::uint32_t>(call, error, daemon.deliverSMS(*sender, *text),
                                  [](sd_bus_message* m, const std::uint32_t& id) {
                                    return sd_bus_reply_method_return(m, "u", id);
                                  });
  });
}

int ControlInterface::onPostLocalNotification(sd_bus_message* call, void* self,
                                              sd_bus_error* error) {
  return guarded(error, [&] {
    auto name = readString(call);
    auto userInfo = platform::bus::readDictionary(call);
    if (!name || !userInfo) return refuse(error, "expected a name and a dictionary");
    static_cast<ControlInterface*>(self)->daemon_.perform([name = *name, userInfo = *userInfo] {
      platform::localNotifyCenter().postNotification(name, userInfo);
    });
    return sd_bus_reply_method_return(call, "");
  });
}

int ControlInterface::onListMessages(sd_bus_message* call, void* self, sd_bus_error* error) {
  return guarded(error, [&] {
    std::uint32_t offset = 0;
    std::uint32_t limit = 0;
    if (sd_bus_message_read(call, "uu", &offset, &limit) < 0) {
      return refuse(error, "expected an offset and a limit");
    }
    // Read from the database a page at most, and stopped near the budget.
    const auto page = static_cast<ControlInterface*>(self)->daemon_.store().page(
        offset, pageLimit(limit), limits::kReplyBudgetBytes);
    const std::string reply =
        pageReply(offset, page.total, limit, [&](std::uint32_t i) -> std::optional<nlohmann::json> {
          if (i >= page.messages.size()) return std::nullopt;
          return messageJson(page.messages[i]);
        });
    return sd_bus_reply_method_return(call, "s", reply.c_str());
  });
}

}  // namespace pelorin::sim
