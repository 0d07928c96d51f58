#include "platform/notification_center.h"

#include <atomic>
#include <map>
#include <mutex>
#include <vector>

namespace pelorin::platform {
namespace {

// Observers by name. Callbacks are copied out under the lock and run without
// it, so a callback may post again or add observers.
template <class Callback>
class ObserverRegistry {
 public:
  void add(const std::string& name, Callback callback) {
    std::lock_guard lock(mutex_);
    observers_[name].push_back(std::move(callback));
  }

  std::vector<Callback> observersOf(const std::string& name) {
    std::lock_guard lock(mutex_);
    auto it = observers_.find(name);
    return it == observers_.end() ? std::vector<Callback>{} : it->second;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::vector<Callback>> observers_;  // guarded by mutex_
};

class InProcessDarwinNotifyCenter final : public DarwinNotifyCenter {
 public:
  void addObserver(const std::string& name, Callback callback) override {
    registry_.add(name, std::move(callback));
  }
  void postNotification(const std::string& name) override {
    for (const auto& callback : registry_.observersOf(name)) callback(name);
  }

 private:
  ObserverRegistry<Callback> registry_;
};

// Every observer is kept as one that takes the objects; plain ones ignore them.
class InProcessLocalNotifyCenter final : public LocalNotifyCenter {
 public:
  void addObserver(const std::string& name, Callback callback) override {
    registry_.add(name,
                  [callback = std::move(callback)](const std::string& n, const Dictionary& u,
                                                   const NotificationObjects&) { callback(n, u); });
  }
  void addObserverWithObjects(const std::string& name, ObjectsCallback callback) override {
    registry_.add(name, std::move(callback));
  }
  void postNotification(const std::string& name, const Dictionary& userInfo) override {
    postNotificationWithObjects(name, userInfo, {});
  }
  void postNotificationWithObjects(const std::string& name, const Dictionary& userInfo,
                                   const NotificationObjects& objects) override {
    for (const auto& callback : registry_.observersOf(name)) callback(name, userInfo, objects);
  }

 private:
  ObserverRegistry<ObjectsCallback> registry_;
};

std::atomic<DarwinNotifyCenter*> installedDarwin{nullptr};
std::atomic<LocalNotifyCenter*> installedLocal{nullptr};

}  // namespace

// The default system-wide centre is provided by the platform build (see
// platform/linux); the local one is always in-process.
DarwinNotifyCenter& defaultDarwinNotifyCenter();

DarwinNotifyCenter& darwinNotifyCenter() {
  if (auto* center = installedDarwin.load()) return *center;
  return defaultDarwinNotifyCenter();
}

void setDarwinNotifyCenter(DarwinNotifyCenter* center) {
  installedDarwin.store(center);
}

LocalNotifyCenter& localNotifyCenter() {
  if (auto* center = installedLocal.load()) return *center;
  static auto* const fallback = newInProcessLocalNotifyCenter().release();
  return *fallback;
}

void setLocalNotifyCenter(LocalNotifyCenter* center) {
  installedLocal.store(center);
}

std::unique_ptr<DarwinNotifyCenter> newInProcessDarwinNotifyCenter() {
  return std::make_unique<InProcessDarwinNotifyCenter>();
}

std::unique_ptr<LocalNotifyCenter> newInProcessLocalNotifyCenter() {
  return std::make_unique<InProcessLocalNotifyCenter>();
}

}  // namespace pelorin::platform
