#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/value.h"

namespace pelorin::platform {

// The system-wide (Darwin) notification centre: a notification is a name and
// nothing else; it tells observers in every process to read a file again.
// Observers are never removed. Callbacks run on the thread that delivers
// notifications to the process; they must not throw.
class DarwinNotifyCenter {
 public:
  using Callback = std::function<void(const std::string& name)>;

  DarwinNotifyCenter() = default;
  DarwinNotifyCenter(const DarwinNotifyCenter&) = delete;
  DarwinNotifyCenter& operator=(const DarwinNotifyCenter&) = delete;
  virtual ~DarwinNotifyCenter() = default;

  // From now on `callback` runs for every post of `name`, in any process.
  virtual void addObserver(const std::string& name, Callback callback) = 0;

  // Delivers `name` immediately to every observer of it.
  virtual void postNotification(const std::string& name) = 0;
};

// A live platform object that a process-local notification can carry (the
// mail store's new messages, for one). Shared, never copied.
class NotificationObject {
 public:
  virtual ~NotificationObject() = default;
};

// The objects a process-local notification carries beside its property-list
// user info: collections of live objects by user-info key. The phone's user
// info holds any object; ours keeps property-list values in the dictionary
// and live objects here, under their own keys.
using NotificationObjects = std::map<std::string, std::vector<std::shared_ptr<NotificationObject>>>;

// The process-local notification centre: a name plus a dictionary (and
// possibly live objects), delivered synchronously on the posting thread.
// Observers are never removed.
class LocalNotifyCenter {
 public:
  using Callback = std::function<void(const std::string& name, const Dictionary& userInfo)>;
  using ObjectsCallback = std::function<void(const std::string& name, const Dictionary& userInfo,
                                             const NotificationObjects& objects)>;

  LocalNotifyCenter() = default;
  LocalNotifyCenter(const LocalNotifyCenter&) = delete;
  LocalNotifyCenter& operator=(const LocalNotifyCenter&) = delete;
  virtual ~LocalNotifyCenter() = default;

  virtual void addObserver(const std::string& name, Callback callback) = 0;

  // Runs every observer of `name` on the calling thread before returning.
  virtual void postNotification(const std::string& name, const Dictionary& userInfo) = 0;

  // An observer that also receives the objects a post carries (none for a
  // post made with postNotification()). The in-process centre carries them;
  // this default, for centres that only wrap the two calls above, delivers
  // none.
  virtual void addObserverWithObjects(const std::string& name, ObjectsCallback callback) {
    addObserver(name, [callback = std::move(callback)](const std::string& n, const Dictionary& u) {
      callback(n, u, {});
    });
  }
  // Posts with objects: observers added with addObserverWithObjects() receive
  // them, plain observers the user info alone. The objects stay shared with
  // the poster. This default drops the objects.
  virtual void postNotificationWithObjects(const std::string& name, const Dictionary& userInfo,
                                           const NotificationObjects& objects) {
    (void)objects;
    postNotification(name, userInfo);
  }
};

// The process's centres. The defaults live as long as the process; a test may
// install its own for the length of the test (nullptr restores the default).
// The installed object must outlive its installation.
DarwinNotifyCenter& darwinNotifyCenter();
void setDarwinNotifyCenter(DarwinNotifyCenter* center);
LocalNotifyCenter& localNotifyCenter();
void setLocalNotifyCenter(LocalNotifyCenter* center);

// In-process centres: the Darwin one delivers to observers of this process
// only, synchronously on the posting thread. Both are thread-safe; a callback
// may post or add observers.
std::unique_ptr<DarwinNotifyCenter> newInProcessDarwinNotifyCenter();
std::unique_ptr<LocalNotifyCenter> newInProcessLocalNotifyCenter();

}  // namespace pelorin::platform
