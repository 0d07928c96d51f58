#include "platform/testing/bus_notification_counter.h"

#include <chrono>

#include "platform/session_bus.h"

namespace pelorin::platform::testing {

using namespace std::chrono_literals;

BusNotificationCounter::BusNotificationCounter(const std::string& name)
    : center_(newBusDarwinNotifyCenter()) {
  center_->addObserver(name, [this](const std::string&) {
    std::lock_guard lock(mutex_);
    ++count_;
    arrived_.notify_all();
  });
}

int BusNotificationCounter::waitFor(int expected) {
  std::unique_lock lock(mutex_);
  arrived_.wait_for(lock, 10s, [&] { return count_ >= expected; });
  arrived_.wait_for(lock, 200ms, [&] { return count_ > expected; });
  return count_;
}

}  // namespace pelorin::platform::testing
