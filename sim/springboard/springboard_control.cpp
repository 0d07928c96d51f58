#include "sim/springboard/springboard_control.h"

#include <functional>

#include "platform/linux/bus_connection.h"
#include "sim/messaging_daemon/argument_reader.h"
#include "sim/messaging_daemon/host_limits.h"

namespace pelorin::sim {
namespace {

constexpr char kRefused[] = "com.talvern.sim.Error.Refused";

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

// Answers a listing call (u offset, u limit) with its page of `items`.
int replyWithPage(sd_bus_message* call, sd_bus_error* error, const RecentItems& items) {
  return guarded(error, [&] {
    ArgumentReader in(call);
    const auto offset = in.number("offset");
    const auto limit = in.number("limit");
    if (in.refusal()) return refuse(error, *in.refusal());
    return platform::bus::replyWithText(call, items.page(offset, limit));
  });
}

}  // namespace

const sd_bus_vtable SpringBoardControl::kVTable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("DeliverPush", "sa{sv}", "b", &SpringBoardControl::onDeliverPush,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ListAlerts", "uu", "s", &SpringBoardControl::onListAlerts,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ListBanners", "uu", "s", &SpringBoardControl::onListBanners,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("Event", "s", 0),
    SD_BUS_VTABLE_END};

int SpringBoardControl::attach(sd_bus* bus, const std::string& objectPath) {
  return sd_bus_add_object_vtable(bus, nullptr, objectPath.c_str(), kInterface, kVTable, this);
}

int SpringBoardControl::onDeliverPush(sd_bus_message* call, void* self, sd_bus_error* error) {
  return guarded(error, [&] {
    ArgumentReader in(call);
    const auto topic = in.text("topic", limits::kMaxTopicBytes);
    const auto userInfo = in.dictionary("userInfo");
    if (in.refusal()) return refuse(error, *in.refusal());
    if (topic.empty()) return refuse(error, "a push needs a topic");
    const bool shown =
        static_cast<SpringBoardControl*>(self)->springBoard_.deliverPush(topic, userInfo);
    return sd_bus_reply_method_return(call, "b", static_cast<int>(shown));
  });
}

int SpringBoardControl::onListAlerts(sd_bus_message* call, void* self, sd_bus_error* error) {
  return replyWithPage(call, error, static_cast<SpringBoardControl*>(self)->springBoard_.alerts());
}

int SpringBoardControl::onListBanners(sd_bus_message* call, void* self, sd_bus_error* error) {
  return replyWithPage(call, error, static_cast<SpringBoardControl*>(self)->springBoard_.banners());
}

}  // namespace pelorin::sim
