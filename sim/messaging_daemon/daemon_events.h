#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/value.h"
#include "sim/messaging_daemon/message_store.h"

namespace pelorin::sim {

// How the simulated daemon reports what happens: one JSON object per event,
// {"event": NAME, ...}. Called on the thread where it happened; must not throw.
using EventReporter = std::function<void(const nlohmann::json& event)>;

// A text as JSON: null when absent.
nlohmann::json textJson(const Text& text);

// A property-list value as JSON: dictionaries, arrays, texts, numbers and
// booleans as themselves, data as {"data": hex}, a date as {"date": seconds
// since 2001}.
nlohmann::json valueJson(const platform::Value& value);
nlohmann::json dictionaryJson(const platform::Dictionary& dictionary);

// One stored message as JSON.
nlohmann::json messageJson(const StoredMessage& message);

// One line of JSON; bytes that are not UTF-8 are replaced, never refused.
std::string jsonLine(const nlohmann::json& value);

}  // namespace pelorin::sim
