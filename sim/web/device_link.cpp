#include "sim/web/device_link.h"

#include <cstring>

#include "sim/messaging_daemon/host_limits.h"

namespace pelorin::sim::web {
namespace {

constexpr char kRefused[] = "com.talvern.sim.Error.Refused";

struct ErrorHolder {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  ~ErrorHolder() { sd_bus_error_free(&error); }
};

bool named(const sd_bus_error& error, const char* name) {
  return error.name && std::strcmp(error.name, name) == 0;
}

// A listing page, when `text` is one.
std::optional<nlohmann::json> pageOf(const char* text) {
  auto value = nlohmann::json::parse(text, nullptr, false);
  if (!value.is_object() || !value.contains("items") || !value["items"].is_array()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

bool DeviceLink::open(const std::string& address, std::string& error) {
  std::lock_guard lock(mutex_);
  bus_ = platform::bus::openBus(address, &error);
  return bus_ != nullptr;
}

template <typename T>
CallResult<T> DeviceLink::failure(const HostAddress& host, int code, const sd_bus_error& error) {
  CallResult<T> result;
  result.refused = named(error, kRefused);
  if (result.refused) {
    result.error = error.message ? error.message : "refused";
  } else if (named(error, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
             named(error, SD_BUS_ERROR_NAME_HAS_NO_OWNER)) {
    result.error = std::string(host.title) + " is not running";
  } else {
    result.error = std::string(host.title) + " did not answer: " +
                   (error.message ? error.message : platform::bus::errorText(code));
  }
  return result;
}

CallResult<nlohmann::json> DeviceLink::page(const HostAddress& host, const char* method,
                                            std::uint64_t offset) {
  std::lock_guard lock(mutex_);
  ErrorHolder error;
  sd_bus_message* raw = nullptr;
  const int r =
      sd_bus_call_method(bus_.get(), host.busName, host.path, host.busName, method, &error.error,
                         &raw, "uu", static_cast<std::uint32_t>(offset), limits::kMaxPageSize);
  if (r < 0 && named(error.error, SD_BUS_ERROR_UNKNOWN_METHOD)) {
    return {nlohmann::json{{"items", nlohmann::json::array()}, {"more", false}}};
  }
  if (r < 0) return failure<nlohmann::json>(host, r, error.error);
  platform::bus::MessagePtr reply(raw);
  const char* text = nullptr;
  std::optional<nlohmann::json> parsed;
  if (sd_bus_message_read(reply.get(), "s", &text) >= 0 && text) parsed = pageOf(text);
  if (!parsed) return {std::nullopt, std::string(host.title) + " answered no listing"};
  return {std::move(parsed)};
}

CallResult<nlohmann::json> DeviceLink::list(const HostAddress& host, const char* method) {
  auto first = page(host, method, 0);
  if (!first.value) return first;
  nlohmann::json items = std::move((*first.value)["items"]);
  bool more = first.value->value("more", false);
  std::uint64_t offset = items.size();
  const std::uint64_t total = first.value->value("total", std::uint64_t{0});
  if (more && total > kMaxListed) {
    items = nlohmann::json::array();  // only the newest are shown
    offset = total - kMaxListed;
  }
  while (more && items.size() < kMaxListed) {
    auto next = page(host, method, offset);
    if (!next.value) return next;
    auto& pageItems = (*next.value)["items"];
    if (pageItems.empty()) break;
    offset += pageItems.size();
    for (auto& item : pageItems) items.push_back(std::move(item));
    more = next.value->value("more", false);
  }
  return {std::move(items)};
}

CallResult<bool> DeviceLink::send(const std::string& service,
                                  const std::vector<std::string>& recipients,
                                  const std::string& text) {
  std::lock_guard lock(mutex_);
  sd_bus_message* raw = nullptr;
  int r = sd_bus_message_new_method_call(bus_.get(), &raw, kMessagesHost.busName,
                                         kMessagesHost.path, kMessagesHost.busName, "Send");
  platform::bus::MessagePtr call(raw);
  std::vector<char*> strv;
  for (const auto& recipient : recipients) strv.push_back(const_cast<char*>(recipient.c_str()));
  strv.push_back(nullptr);
  char* noAttachments[] = {nullptr};
  if (r >= 0) r = sd_bus_message_append(call.get(), "s", service.c_str());
  if (r >= 0) r = sd_bus_message_append_strv(call.get(), strv.data());
  if (r >= 0) r = sd_bus_message_append(call.get(), "s", text.c_str());
  if (r >= 0) r = sd_bus_message_append_strv(call.get(), noAttachments);
  if (r >= 0) r = sd_bus_message_append(call.get(), "b", 0);
  ErrorHolder error;
  sd_bus_message* reply = nullptr;
  if (r >= 0) r = sd_bus_call(bus_.get(), call.get(), 0, &error.error, &reply);
  if (r < 0) return failure<bool>(kMessagesHost, r, error.error);
  platform::bus::MessagePtr held(reply);
  int taken = 0;
  if (sd_bus_message_read(reply, "b", &taken) < 0) {
    return {std::nullopt, "the Messages host answered no result"};
  }
  return {taken != 0};
}

CallResult<std::string> DeviceLink::deliverMail(const std::string& account,
                                                const std::string& path) {
  std::lock_guard lock(mutex_);
  ErrorHolder error;
  sd_bus_message* raw = nullptr;
  const int r = sd_bus_call_method(bus_.get(), kMailHost.busName, kMailHost.path, kMailHost.busName,
                                   "DeliverMail", &error.error, &raw, "sss", account.c_str(),
                                   "INBOX", path.c_str());
  if (r < 0) return failure<std::string>(kMailHost, r, error.error);
  platform::bus::MessagePtr reply(raw);
  const char* id = nullptr;
  if (sd_bus_message_read(reply.get(), "s", &id) < 0 || !id) {
    return {std::nullopt, "the Mail host answered no message id"};
  }
  return {std::string(id)};
}

}  // namespace pelorin::sim::web
