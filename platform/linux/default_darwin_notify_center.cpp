#include "platform/session_bus.h"

namespace pelorin::platform {

// The process's system-wide centre: signals on the session bus of the
// environment, served by its own notification thread. Never destroyed, so
// callbacks may still arrive while the process exits.
DarwinNotifyCenter& defaultDarwinNotifyCenter() {
  static auto* const center = newBusDarwinNotifyCenter().release();
  return *center;
}

}  // namespace pelorin::platform
