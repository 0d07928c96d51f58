#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin::service {

// An order to misbehave on the next `count` requests that match `path`:
// either the path alone ("/voice/m/x") or a path and the start of its query
// ("/voice/m/x?m=sms"). Aspects combine: a delay comes first, then a dropped
// connection, a replaced status and/or body, or a declined send.
struct Fault {
  std::string path;
  int count = 1;
  int delayMs = 0;
  bool drop = false;
  std::optional<int> status;
  std::optional<std::string> body;
  std::optional<std::string> location;  // a redirect there (status 302 unless given)
  std::optional<int> sendSmsResponse;   // the code a send reply carries instead of 0
};

// Pending faults, consumed in the order given. Thread-safe.
class FaultPlan {
 public:
  void add(Fault fault);
  void clear();
  std::vector<Fault> pending() const;

  // The first pending fault for this request, counted down by one.
  std::optional<Fault> take(std::string_view path, std::string_view target);

 private:
  mutable std::mutex mutex_;
  std::vector<Fault> faults_;  // guarded by mutex_
};

}  // namespace pelorin::service
