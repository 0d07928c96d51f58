#include "common/darwin_observer_redirect.h"

#include <string>

namespace pelorin {

void DarwinObserverRedirect::addObserverwithCallback(Callback callback,
                                                     std::string_view notificationName) {
  platform::darwinNotifyCenter().addObserver(std::string(notificationName), std::move(callback));
}

void DarwinObserverRedirect::postNotification(std::string_view notificationName) {
  platform::darwinNotifyCenter().postNotification(std::string(notificationName));
}

}  // namespace pelorin
