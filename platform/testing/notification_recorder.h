#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/notification_center.h"

namespace pelorin::platform::testing {

// Installs fresh in-process notification centres for the length of a test and
// records every notification posted through them, in order.
class NotificationRecorder {
 public:
  NotificationRecorder();
  ~NotificationRecorder();
  NotificationRecorder(const NotificationRecorder&) = delete;
  NotificationRecorder& operator=(const NotificationRecorder&) = delete;

  // Names posted on the system-wide centre.
  std::vector<std::string> darwinPosts() const;
  // Names and user info posted on the process-local centre.
  std::vector<std::pair<std::string, Dictionary>> localPosts() const;
  void clear();

 private:
  class Darwin;
  class Local;
  mutable std::mutex mutex_;
  std::vector<std::string> darwinPosts_;                        // guarded by mutex_
  std::vector<std::pair<std::string, Dictionary>> localPosts_;  // guarded by mutex_
  std::unique_ptr<Darwin> darwin_;
  std::unique_ptr<Local> local_;
};

}  // namespace pelorin::platform::testing
