#pragma once

#include <functional>
#include <memory>
#include <string>

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

// The process-local notification centre: a name plus a dictionary, delivered
// synchronously on the posting thread. Observers are never removed.
class LocalNotifyCenter {
 public:
  using Callback = std::function<void(const std::string& name, const Dictionary& userInfo)>;

  LocalNotifyCenter() = default;
  LocalNotifyCenter(const LocalNotifyCenter&) = delete;
  LocalNotifyCenter& operator=(const LocalNotifyCenter&) = delete;
  virtual ~LocalNotifyCenter() = default;

  virtual void addObserver(const std::string& name, Callback callback) = 0;

  // Runs every observer of `name` on the calling thread before returning.
  virtual void postNotification(const std::string& name, const Dictionary& userInfo) = 0;
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
