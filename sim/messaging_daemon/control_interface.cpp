#include "sim/messaging_daemon/control_interface.h"

#include <functional>

#include "platform/linux/bus_connection.h"
#include "platform/notification_center.h"
#include "sim/messaging_daemon/argument_reader.h"
#include "sim/messaging_daemon/daemon_events.h"
#include "sim/messaging_daemon/host_limits.h"
#include "sim/messaging_daemon/listing_page.h"

namespace pelorin::sim {
namespace {

constexpr char kRefused[] = "com.talvern.sim.Error.Refused";

// The readings every handler shares, within their limits.
std::string readAddress(ArgumentReader& in, const char* what) {
  return in.text(what, limits::kMaxAddressBytes);
}
std::vector<std::string> readAddresses(ArgumentReader& in, const char* what) {
  return in.texts(what, limits::kMaxRecipients, limits::kMaxAddressBytes);
}
std::string readText(ArgumentReader& in) {
  return in.text("text", limits::kMaxTextBytes);
}
// A group's chat identifier joins its participants ("chat;A;B..."), so it is
// bounded as a text, not as an address.
std::string readChatIdentifier(ArgumentReader& in) {
  return in.text("chat identifier", limits::kMaxTextBytes);
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
    ArgumentReader in(call);
    const auto recipients = readAddresses(in, "recipients");
    const auto text = readText(in);
    const auto parts = in.number("number of parts");
    if (in.refusal()) return refuse(error, *in.refusal());
    auto& daemon = static_cast<ControlInterface*>(self)->daemon_;
    return replyOr<std::uint32_t>(call, error, daemon.sendSMS(recipients, text, parts),
                                  [](sd_bus_message* m, const std::uint32_t& id) {
                                    return sd_bus_reply_method_return(m, "u", id);
                                  });
  });
}

int ControlInterface::onSendChatMessage(sd_bus_message* call, void* self, sd_bus_error* error) {
  return guarded(error, [&] {
    ArgumentReader in(call);
    const auto service = readAddress(in, "service");
    const auto chat = readChatIdentifier(in);
    const auto participants = readAddresses(in, "participants");
    const auto text = readText(in);
    const auto attachments =
        in.texts("attachments", limits::kMaxAttachments, limits::kMaxPathBytes);
    if (in.refusal()) return refuse(error, *in.refusal());
    auto& daemon = static_cast<ControlInterface*>(self)->daemon_;
    auto outcome = daemon.sendChatMessage(service, chat, participants, text, attachments);
    return replyOr<std::string>(call, error, outcome,
                                [](sd_bus_message* m, const std::string& guid) {
                                  return sd_bus_reply_method_return(m, "s", guid.c_str());
                                });
  });
}

int ControlInterface::onCreateChat(sd_bus_message* call, void* self, sd_bus_error* error) {
  return guarded(error, [&] {
    ArgumentReader in(call);
    const auto service = readAddress(in, "service");
    const auto chat = readChatIdentifier(in);
    const auto participants = readAddresses(in, "participants");
    if (in.refusal()) return refuse(error, *in.refusal());
    auto& daemon = static_cast<ControlInterface*>(self)->daemon_;
    return replyOr<bool>(
        call, error, daemon.createChat(service, chat, participants),
        [](sd_bus_message* m, const bool&) { return sd_bus_reply_method_return(m, ""); });
  });
}

int ControlInterface::onDeliverSMS(sd_bus_message* call, void* self, sd_bus_error* error) {
  return guarded(error, [&] {
    ArgumentReader in(call);
    const auto sender = readAddress(in, "sender");
    const auto text = readText(in);
    if (in.refusal()) return refuse(error, *in.refusal());
    auto& daemon = static_cast<ControlInterface*>(self)->daemon_;
    return replyOr<std::uint32_t>(call, error, daemon.deliverSMS(sender, text),
                                  [](sd_bus_message* m, const std::uint32_t& id) {
                                    return sd_bus_reply_method_return(m, "u", id);
                                  });
  });
}

int ControlInterface::onPostLocalNotification(sd_bus_message* call, void* self,
                                              sd_bus_error* error) {
  return guarded(error, [&] {
    ArgumentReader in(call);
    auto name = in.text("name", limits::kMaxTopicBytes);
    auto userInfo = in.dictionary("userInfo");
    if (in.refusal()) return refuse(error, *in.refusal());
    static_cast<ControlInterface*>(self)->daemon_.perform(
        [name = std::move(name), userInfo = std::move(userInfo)] {
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
