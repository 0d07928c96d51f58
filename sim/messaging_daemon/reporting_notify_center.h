#pragma once

#include <memory>

#include "platform/notification_center.h"
#include "sim/messaging_daemon/daemon_events.h"

namespace pelorin::sim {

// The daemon host's process-local notification centre: an in-process centre
// that first reports every post ({"event": "localNotification", "name",
// "userInfo"}) and then delivers it, synchronously on the posting thread.
// Thread-safe.
class ReportingNotifyCenter final : public platform::LocalNotifyCenter {
 public:
  explicit ReportingNotifyCenter(EventReporter reporter)
      : reporter_(std::move(reporter)), inner_(platform::newInProcessLocalNotifyCenter()) {}

  void addObserver(const std::string& name, Callback callback) override {
    inner_->addObserver(name, std::move(callback));
  }
  void addObserverWithObjects(const std::string& name, ObjectsCallback callback) override {
    inner_->addObserverWithObjects(name, std::move(callback));
  }
  void postNotification(const std::string& name, const platform::Dictionary& userInfo) override;
  // Reported as a plain post (the objects have no JSON form), then delivered with them.
  void postNotificationWithObjects(const std::string& name, const platform::Dictionary& userInfo,
                                   const platform::NotificationObjects& objects) override;

 private:
  const EventReporter reporter_;
  const std::unique_ptr<platform::LocalNotifyCenter> inner_;
};

}  // namespace pelorin::sim
