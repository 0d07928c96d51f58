#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/testing/child_process.h"

namespace pelorin::testing {

// The simulated device for end-to-end tests: the built Quenlow.so and its
// filter installed under the current root (PELORIN_ROOT), and the real daemon
// host started on the current session bus with its events on standard output.
class QuenlowDevice {
 public:
  // `options` are the daemon host's own (`--no-iphone`, ...).
  explicit QuenlowDevice(const std::vector<std::string>& options = {});

  // True once the loader loaded Quenlow and the host serves its control
  // interface.
  bool started() const { return started_; }

  // The next event for which `wanted` holds (others are skipped); nothing
  // when the host wrote none in 30 seconds.
  std::optional<nlohmann::json> nextEvent(const std::function<bool(const nlohmann::json&)>& wanted);

  // Sends an SMS of one part through the control interface; its carrier id
  // (0 when the call failed).
  std::uint32_t sendSMS(const std::vector<std::string>& recipients, const std::string& text);

  // Calls `method` of the control interface with busctl's signature and
  // arguments; false when the call failed. `reply` gets busctl's output.
  bool call(const std::string& method, const std::vector<std::string>& arguments,
            std::string* reply = nullptr);

 private:
  std::unique_ptr<platform::testing::ChildProcess> host_;
  bool started_ = false;
};

}  // namespace pelorin::testing
