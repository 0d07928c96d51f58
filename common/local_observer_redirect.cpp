#include "common/local_observer_redirect.h"

#include <string>

namespace pelorin {

void LocalObserverRedirect::addObserverwithCallback(Callback callback,
                                                    std::string_view notificationName) {
  platform::localNotifyCenter().addObserver(std::string(notificationName), std::move(callback));
}

void LocalObserverRedirect::addObserverwithObjectsCallback(ObjectsCallback callback,
                                                           std::string_view notificationName) {
  platform::localNotifyCenter().addObserverWithObjects(std::string(notificationName),
                                                       std::move(callback));
}

void LocalObserverRedirect::postNotification(std::string_view notificationName,
                                             const platform::Dictionary& userInfo) {
  platform::localNotifyCenter().postNotification(std::string(notificationName), userInfo);
}

}  // namespace pelorin
