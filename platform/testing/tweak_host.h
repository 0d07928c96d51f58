#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/testing/child_process.h"

namespace pelorin::platform::testing {

class TemporaryRoot;

// A host process of the stand-in phone started with its events as JSON lines
// on its output. Construction waits until `tweak` has loaded and the host is
// ready; destruction ends the host like ChildProcess does.
class TweakHost {
 public:
  TweakHost(std::vector<std::string> argv, const std::string& tweak);

  // True once the tweak loaded and the host said it was ready.
  bool ready() const { return ready_; }

  // The next event `wanted` accepts, others skipped; nothing when the host
  // fell silent for 20 seconds or ended.
  std::optional<nlohmann::json> nextEvent(const std::function<bool(const nlohmann::json&)>& wanted);

  // Copies built tweak files (libraries and filters) into `root`'s tweak folder.
  static void install(const TemporaryRoot& root, const std::vector<std::string>& files);

 private:
  ChildProcess process_;
  bool ready_ = false;
};

}  // namespace pelorin::platform::testing
