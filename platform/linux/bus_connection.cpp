#include "platform/linux/bus_connection.h"

#include <poll.h>

#include <cstring>

namespace pelorin::platform::bus {

BusPtr openBus(const Text& address, std::string* error) {
  sd_bus* raw = nullptr;
  int result = 0;
  if (!address) {
    result = sd_bus_open_user(&raw);
  } else if ((result = sd_bus_new(&raw)) >= 0) {
    // Set up as a bus client before starting, as sd_bus_open_user() does.
    result = sd_bus_set_address(raw, address->c_str());
    if (result >= 0) result = sd_bus_set_bus_client(raw, 1);
    if (result >= 0) result = sd_bus_start(raw);
  }
  BusPtr bus(raw);
  if (result < 0) {
    if (error) *error = errorText(result);
    return nullptr;
  }
  return bus;
}

namespace {

class BusSource final : public RunLoop::Source {
 public:
  BusSource(sd_bus* bus, std::shared_ptr<void> owner, std::function<void(const std::string&)> lost)
      : bus_(bus), owner_(std::move(owner)), lost_(std::move(lost)) {}

  int fileDescriptor() override { return sd_bus_get_fd(bus_); }

  int events() override {
    const int events = sd_bus_get_events(bus_);
    int result = 0;
    if (events > 0 && (events & POLLIN)) result |= kReadable;
    if (events > 0 && (events & POLLOUT)) result |= kWritable;
    return result;
  }

  std::optional<std::chrono::steady_clock::time_point> deadline() override {
    std::uint64_t usec = 0;
    if (sd_bus_get_timeout(bus_, &usec) < 0 || usec == UINT64_MAX) return std::nullopt;
    // sd-bus deadlines are CLOCK_MONOTONIC, the clock behind steady_clock.
    return std::chrono::steady_clock::time_point(std::chrono::microseconds(usec));
  }

  bool dispatch() override {
    int result = 0;
    while ((result = sd_bus_process(bus_, nullptr)) > 0) {
    }
    if (result >= 0) return true;
    // Once closed, whatever the cause, processing fails with "connection reset".
    if (lost_) lost_(sd_bus_is_open(bus_) > 0 ? errorText(result) : "the connection was closed");
    return false;
  }

 private:
  sd_bus* const bus_;
  const std::shared_ptr<void> owner_;
  const std::function<void(const std::string&)> lost_;
};

}  // namespace

std::shared_ptr<RunLoop::Source> newBusSource(sd_bus* bus, std::shared_ptr<void> owner,
                                              std::function<void(const std::string&)> lost) {
  return std::make_shared<BusSource>(bus, std::move(owner), std::move(lost));
}

std::optional<std::string> objectPathForName(std::string_view name) {
  std::string path = "/" + std::string(name);
  for (char& c : path) {
    if (c == '.') c = '/';
  }
  if (!sd_bus_object_path_is_valid(path.c_str())) return std::nullopt;
  return path;
}

std::string matchRuleValue(std::string_view text) {
  // Inside quotes nothing is special but the quote itself, written '\''.
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::optional<std::vector<std::string>> readStringArray(sd_bus_message* message,
                                                        std::size_t maxCount,
                                                        std::size_t maxBytesEach,
                                                        std::string* error) {
  auto fail = [error](std::string why) -> std::optional<std::vector<std::string>> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  if (sd_bus_message_enter_container(message, 'a', "s") <= 0)
    return fail("expected an array of texts");
  std::vector<std::string> texts;
  const char* text = nullptr;
  int result = 0;
  while ((result = sd_bus_message_read_basic(message, 's', &text)) > 0) {
    if (texts.size() == maxCount) return fail("more than " + std::to_string(maxCount) + " texts");
    const std::string_view value(text);
    if (value.size() > maxBytesEach) {
      return fail("a text longer than " + std::to_string(maxBytesEach) + " bytes");
    }
    texts.emplace_back(value);
  }
  if (result < 0 || sd_bus_message_exit_container(message) < 0) {
    return fail("expected an array of texts");
  }
  return texts;
}

int replyWithText(sd_bus_message* call, const std::string& text) {
  // Room for the reply's header: names, serials and its signature.
  constexpr std::size_t kHeaderRoom = 64 * 1024;
  if (text.size() > kMaxMessageBytes - kHeaderRoom) {
    return sd_bus_reply_method_errorf(call, SD_BUS_ERROR_LIMITS_EXCEEDED,
                                      "the reply would exceed the %zu bytes a message may hold",
                                      kMaxMessageBytes);
  }
  return sd_bus_reply_method_return(call, "s", text.c_str());
}

std::string errorText(int code) {
  return std::strerror(code < 0 ? -code : code);
}

}  // namespace pelorin::platform::bus
