#pragma once

#include <memory>

#include "platform/messaging_center.h"
#include "platform/notification_center.h"
#include "platform/text.h"

namespace pelorin::platform {

// The D-Bus transports of the notification and messaging centres. `address`
// is a D-Bus address ("unix:path=..."); absent means the session bus of the
// environment (DBUS_SESSION_BUS_ADDRESS). Connections are opened lazily, on
// first use; without a reachable bus every operation degrades quietly (posts
// and sends do nothing, observers are kept but never called) and nothing
// blocks or throws.
//
// Wire contract:
// - system-wide notification: signal Post(s name) on path
//   /com/talvern/platform/Notify, interface com.talvern.platform.Notify;
//   observers match on arg0. Callbacks run on the centre's own notification
//   thread.
// - messaging centre "a.b.C": bus name a.b.C, object /a/b/C, interface
//   com.talvern.platform.MessagingCenter, method Send(s messageName, a{sv}
//   userInfo), called without waiting for the reply. Property-list kinds
//   travel as s, x, d, b, ay, a{sv} and av; a date as (d), seconds since 2001.
//   Received integers of any width read as integers, object paths and
//   signatures as texts, an array of texts as an array.
std::unique_ptr<DarwinNotifyCenter> newBusDarwinNotifyCenter(Text address = {});
std::unique_ptr<MessagingCenterProvider> newBusMessagingCenters(Text address = {});

// Whether a connection to the bus can be made now.
bool busReachable(Text address = {});

}  // namespace pelorin::platform
