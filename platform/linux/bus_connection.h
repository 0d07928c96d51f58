#pragma once

// sd-bus helpers shared by the platform's D-Bus transports and the host
// processes. Not for logic code: it reaches the bus through platform/.

#include <systemd/sd-bus.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/run_loop.h"
#include "platform/text.h"
#include "platform/value.h"

namespace pelorin::platform::bus {

struct BusCloser {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusCloser>;

struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

// A new connection to the bus at `address`, or to the session bus of the
// environment when absent; nullptr when none can be made (the reason, as
// text, in `error` when given). The connection belongs to the caller and, like
// every sd-bus object, to one thread at a time.
BusPtr openBus(const Text& address, std::string* error = nullptr);

// A RunLoop source that serves `bus` on the loop's thread: it waits on the
// connection's descriptor and deadline and processes everything queued. It
// keeps `owner` alive (whatever owns the connection) and leaves the loop when
// the connection fails or closes, calling `lost` (when given) with the reason.
std::shared_ptr<RunLoop::Source> newBusSource(
    sd_bus* bus, std::shared_ptr<void> owner,
    std::function<void(const std::string& reason)> lost = {});

// "a.b.C" -> "/a/b/C"; nothing when the result is not a valid object path.
std::optional<std::string> objectPathForName(std::string_view name);

// `text` quoted for a match rule.
std::string matchRuleValue(std::string_view text);

// a{sv} <-> dictionary (see platform/session_bus.h for the kinds).
int appendDictionary(sd_bus_message* message, const Dictionary& dictionary);
// Reads one a{sv}; nothing when the message does not hold one there.
std::optional<Dictionary> readDictionary(sd_bus_message* message);

// Reads one `as` in time linear in its size (sd_bus_message_read_strv grows
// its array one element at a time). Nothing, with the reason in `error`, when
// the message does not hold one there, or it has more than `maxCount` texts
// or a text longer than `maxBytesEach` bytes.
std::optional<std::vector<std::string>> readStringArray(sd_bus_message* message,
                                                        std::size_t maxCount,
                                                        std::size_t maxBytesEach,
                                                        std::string* error = nullptr);

// The most a D-Bus message may hold, header included; sending a larger one
// costs the sender its connection.
inline constexpr std::size_t kMaxMessageBytes = std::size_t{128} << 20;

// Answers `call` with the one text `text`, or with the error LimitsExceeded
// when a reply could not carry it.
int replyWithText(sd_bus_message* call, const std::string& text);

// The text of an sd-bus error code.
std::string errorText(int code);

}  // namespace pelorin::platform::bus
