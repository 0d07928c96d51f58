#pragma once

#include <string_view>

#include "platform/notification_center.h"

namespace pelorin {

// The only way the system posts or observes process-local notifications: a
// name and a user-info dictionary, delivered at once on the posting thread.
class LocalObserverRedirect {
 public:
  using Callback = platform::LocalNotifyCenter::Callback;
  using ObjectsCallback = platform::LocalNotifyCenter::ObjectsCallback;

  static void addObserverwithCallback(Callback callback, std::string_view notificationName);
  // An observer that also receives the live objects a post carries (the mail
  // store's new messages).
  static void addObserverwithObjectsCallback(ObjectsCallback callback,
                                             std::string_view notificationName);
  static void postNotification(std::string_view notificationName,
                               const platform::Dictionary& userInfo);
};

}  // namespace pelorin
