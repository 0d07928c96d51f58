#include "sim/messaging_daemon/reporting_notify_center.h"

namespace pelorin::sim {

void ReportingNotifyCenter::postNotification(const std::string& name,
                                             const platform::Dictionary& userInfo) {
  postNotificationWithObjects(name, userInfo, {});
}

void ReportingNotifyCenter::postNotificationWithObjects(
    const std::string& name, const platform::Dictionary& userInfo,
    const platform::NotificationObjects& objects) {
  if (reporter_) {
    reporter_(
        {{"event", "localNotification"}, {"name", name}, {"userInfo", dictionaryJson(userInfo)}});
  }
  inner_->postNotificationWithObjects(name, userInfo, objects);
}

}  // namespace pelorin::sim
