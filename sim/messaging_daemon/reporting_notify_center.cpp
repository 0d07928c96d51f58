#include "sim/messaging_daemon/reporting_notify_center.h"

namespace pelorin::sim {

void ReportingNotifyCenter::postNotification(const std::string& name,
                                             const platform::Dictionary& userInfo) {
  if (reporter_) {
    reporter_(
        {{"event", "localNotification"}, {"name", name}, {"userInfo", dictionaryJson(userInfo)}});
  }
  inner_->postNotification(name, userInfo);
}

}  // namespace pelorin::sim
