#pragma once

#include <string_view>

#include "platform/notification_center.h"

namespace pelorin {

// The only way the system posts or observes system-wide notifications: a name,
// no object, no user info, delivered at once. Observers live as long as the
// process; callbacks run on the thread that delivers notifications.
class DarwinObserverRedirect {
 public:
  using Callback = platform::DarwinNotifyCenter::Callback;

  static void addObserverwithCallback(Callback callback, std::string_view notificationName);
  static void postNotification(std::string_view notificationName);
};

}  // namespace pelorin
