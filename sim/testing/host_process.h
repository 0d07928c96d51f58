#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/testing/child_process.h"

namespace pelorin::sim::testing {

using nlohmann::json;

// busctl's reply to `method` of a host's control interface (bus name and
// interface `busName`, object path the same with slashes), e.g. "u 1\n", or
// the error it printed; `ok` tells which. `arguments` start with the signature.
std::string callHost(const std::string& busName, const std::string& method,
                     const std::vector<std::string>& arguments, bool* ok = nullptr);

// A host program of the simulated device as the test's child process, on the
// test's bus, its events read as JSON lines from its standard output.
class HostProcess {
 public:
  // Runs `argv` with "--json-events -" added and waits for its "ready" event.
  HostProcess(std::string busName, std::vector<std::string> argv);

  bool ready() const { return ready_; }
  platform::testing::ChildProcess& process() { return process_; }

  // The next event `wanted` accepts (waiting up to 30 s for each); nothing
  // when the host fell silent. Every event read is kept for seen().
  std::optional<json> next(const std::function<bool(const json&)>& wanted);
  std::optional<json> next(const std::string& event);
  // The message of the next event that carries one whose `field` is `value`,
  // in `state`; null when none came.
  json message(const std::string& field, const json& value, const std::string& state);
  // The events read so far named `event` that hold every member of `fields`.
  std::vector<json> seen(const std::string& event, const json& fields = json::object()) const;
  // Reads every event until none came for `quiet`.
  void readUntilQuiet(std::chrono::milliseconds quiet);

  std::string call(const std::string& method, const std::vector<std::string>& arguments,
                   bool* ok = nullptr) const {
    return callHost(busName_, method, arguments, ok);
  }
  // One page of a listing method, parsed; null when the call failed.
  json page(const std::string& method, std::uint32_t offset = 0, std::uint32_t limit = 0) const;

 private:
  std::string busName_;
  platform::testing::ChildProcess process_;
  std::vector<json> seen_;
  bool ready_ = false;
};

}  // namespace pelorin::sim::testing
