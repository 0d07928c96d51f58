#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "platform/notification_center.h"

namespace pelorin::platform::testing {

// Counts one system-wide notification as it arrives over the session bus
// (DBUS_SESSION_BUS_ADDRESS, e.g. a PrivateBus), from the moment it is made.
class BusNotificationCounter {
 public:
  explicit BusNotificationCounter(const std::string& name);

  // Waits up to ten seconds for `expected` arrivals, then a moment longer so
  // that an extra one is counted too; returns the count.
  int waitFor(int expected);

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  int count_ = 0;  // guarded by mutex_
  std::unique_ptr<DarwinNotifyCenter> center_;
};

}  // namespace pelorin::platform::testing
