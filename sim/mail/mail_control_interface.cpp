#include "sim/mail/mail_control_interface.h"

#include <optional>

#include "sim/messaging_daemon/host_limits.h"
#include "sim/messaging_daemon/listing_page.h"

namespace pelorin::sim {
namespace {

constexpr char kRefused[] = "com.talvern.sim.Error.Refused";

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

MailControlInterface& self(void* data) {
  return *static_cast<MailControlInterface*>(data);
}

}  // namespace

const sd_bus_vtable MailControlInterface::kVTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("DeliverMail", "sss", "s", &MailControlInterface::onDeliverMail,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Announce", "s", "", &MailControlInterface::onAnnounce,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SetBody", "s", "", &MailControlInterface::onSetBody, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ListMail", "uu", "s", &MailControlInterface::onListMail,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("Event", "s", 0),
    SD_BUS_VTABLE_END};

int MailControlInterface::attach(sd_bus* bus, const std::string& objectPath) {
  return sd_bus_add_object_vtable(bus, nullptr, objectPath.c_str(), kInterface, kVTable, this);
}

void MailControlInterface::arrive(SimMailStore& store, const Executor& later,
                                  const std::string& messageID) {
  later([&store, messageID] {
    store.announce(messageID);
    store.setBody(messageID);
  });
}

int MailControlInterface::onDeliverMail(sd_bus_message* call, void* data, sd_bus_error* error) {
  return guarded(error, [&] {
    auto account = readString(call);
    auto mailbox = readString(call);
    auto path = readString(call);
    if (!account || !mailbox || !path) return refuse(error, "expected account, mailbox and path");
    if (account->size() > limits::kMaxAddressBytes || mailbox->size() > limits::kMaxAddressBytes)
      return refuse(error, "an account or mailbox longer than " +
                               std::to_string(limits::kMaxAddressBytes) + " bytes");
    if (path->size() > limits::kMaxPathBytes)
      return refuse(error,
                    "a path longer than " + std::to_string(limits::kMaxPathBytes) + " bytes");
    auto& control = self(data);
    auto stored = control.store_.storeFile(*account, *mailbox, *path);
    if (!stored.value) return refuse(error, stored.error);
    arrive(control.store_, control.later_, *stored.value);
    return sd_bus_reply_method_return(call, "s", stored.value->c_str());
  });
}

int MailControlInterface::onAnnounce(sd_bus_message* call, void* data, sd_bus_error* error) {
  return guarded(error, [&] {
    auto id = readString(call);
    if (!id) return refuse(error, "expected a message id");
    auto& control = self(data);
    if (!control.store_.knows(*id)) return refuse(error, "no such message: " + *id);
    control.later_([&store = control.store_, id = *id] { store.announce(id); });
    return sd_bus_reply_method_return(call, "");
  });
}

int MailControlInterface::onSetBody(sd_bus_message* call, void* data, sd_bus_error* error) {
  return guarded(error, [&] {
    auto id = readString(call);
    if (!id) return refuse(error, "expected a message id");
    auto& control = self(data);
    if (!control.store_.knows(*id)) return refuse(error, "no such message: " + *id);
    control.later_([&store = control.store_, id = *id] { store.setBody(id); });
    return sd_bus_reply_method_return(call, "");
  });
}

int MailControlInterface::onListMail(sd_bus_message* call, void* data, sd_bus_error* error) {
  return guarded(error, [&] {
    std::uint32_t offset = 0;
    std::uint32_t limit = 0;
    if (sd_bus_message_read(call, "uu", &offset, &limit) < 0)
      return refuse(error, "expected an offset and a limit");
    const auto listing = self(data).store_.list(offset, pageLimit(limit));
    const std::string reply = pageReply(offset, listing.total, limit,
                                        [&](std::uint32_t i) -> std::optional<nlohmann::json> {
                                          if (i >= listing.items.size()) return std::nullopt;
                                          return listing.items[i];
                                        });
    return sd_bus_reply_method_return(call, "s", reply.c_str());
  });
}

}  // namespace pelorin::sim
