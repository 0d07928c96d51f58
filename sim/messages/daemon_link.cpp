#include "sim/messages/daemon_link.h"

#include <cstdint>

namespace pelorin::sim {
namespace {

constexpr std::uint64_t kCallTimeoutMicroseconds = 10'000'000;

// Appends `strings` as an array of texts.
int appendStrings(sd_bus_message* message, const std::vector<std::string>& strings) {
  int r = sd_bus_message_open_container(message, 'a', "s");
  for (std::size_t i = 0; r >= 0 && i < strings.size(); ++i) {
    r = sd_bus_message_append_basic(message, 's', strings[i].c_str());
  }
  return r < 0 ? r : sd_bus_message_close_container(message);
}

}  // namespace

DaemonLink::DaemonLink(std::string busName)
    : busName_(std::move(busName)),
      objectPath_(platform::bus::objectPathForName(busName_).value_or("/")) {}

DaemonLink::Result DaemonLink::sendChatMessage(const std::string& service,
                                               const std::string& chatIdentifier,
                                               const std::vector<std::string>& participants,
                                               const std::string& text,
                                               const std::vector<std::string>& attachments) {
  std::lock_guard lock(mutex_);
  Result result;
  if (!bus_) {
    bus_ = platform::bus::openBus(std::nullopt, &result.error);
    if (!bus_) {
      result.error = "no session bus: " + result.error;
      return result;
    }
  }
  sd_bus_message* call = nullptr;
  int r = sd_bus_message_new_method_call(bus_.get(), &call, busName_.c_str(), objectPath_.c_str(),
                                         busName_.c_str(), "SendChatMessage");
  platform::bus::MessagePtr callOwner(call);
  if (r >= 0) r = sd_bus_message_append(call, "ss", service.c_str(), chatIdentifier.c_str());
  if (r >= 0) r = appendStrings(call, participants);
  if (r >= 0) r = sd_bus_message_append_basic(call, 's', text.c_str());
  if (r >= 0) r = appendStrings(call, attachments);
  if (r < 0) {
    result.error = "cannot build the call: " + platform::bus::errorText(r);
    return result;
  }
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  r = sd_bus_call(bus_.get(), call, kCallTimeoutMicroseconds, &error, &reply);
  platform::bus::MessagePtr replyOwner(reply);
  const char* guid = nullptr;
  if (r >= 0 && sd_bus_message_read(reply, "s", &guid) >= 0 && guid != nullptr) {
    result.sent = true;
    result.guid = guid;
  } else if (r < 0) {
    result.error = error.message ? error.message : platform::bus::errorText(r);
    // A broken connection is opened again on the next send.
    if (!sd_bus_is_open(bus_.get())) bus_.reset();
  } else {
    result.error = "unexpected reply";
  }
  sd_bus_error_free(&error);
  return result;
}

}  // namespace pelorin::sim
