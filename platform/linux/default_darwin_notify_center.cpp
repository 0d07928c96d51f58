#include "platform/notification_center.h"

namespace pelorin::platform {

// Until the session-bus transport exists, system-wide notifications stay
// inside the process.
DarwinNotifyCenter& defaultDarwinNotifyCenter() {
  static auto* const center = newInProcessDarwinNotifyCenter().release();
  return *center;
}

}  // namespace pelorin::platform
