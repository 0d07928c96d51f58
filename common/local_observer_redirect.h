#pragma once

#include <string_view>

#include "platform/notification_center.h"

namespace pelorin {

// The only way the system posts or observes process-local notifications: a
// name and a user-info dictionary, delivered at once on the posting thread.
class LocalObserverRedirect {
 public:
  using Callback = platform::LocalNotifyCenter::Callback;

  static void addObserverwithCallback(Callback callback, std::string_view notificationName);
  static void postNotification(std::string_view notificationName,
                               const platform::Dictionary& userInfo);
};

}  // namespace pelorin
