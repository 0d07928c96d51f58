#include "platform/testing/notification_recorder.h"

namespace pelorin::platform::testing {

class NotificationRecorder::Darwin final : public DarwinNotifyCenter {
 public:
  explicit Darwin(NotificationRecorder& owner) : owner_(owner) {}
  void addObserver(const std::string& name, Callback callback) override {
    inner_->addObserver(name, std::move(callback));
  }
  void postNotification(const std::string& name) override {
    {
      std::lock_guard lock(owner_.mutex_);
      owner_.darwinPosts_.push_back(name);
    }
    inner_->postNotification(name);
  }

 private:
  NotificationRecorder& owner_;
  std::unique_ptr<DarwinNotifyCenter> inner_ = newInProcessDarwinNotifyCenter();
};

class NotificationRecorder::Local final : public LocalNotifyCenter {
 public:
  explicit Local(NotificationRecorder& owner) : owner_(owner) {}
  void addObserver(const std::string& name, Callback callback) override {
    inner_->addObserver(name, std::move(callback));
  }
  void addObserverWithObjects(const std::string& name, ObjectsCallback callback) override {
    inner_->addObserverWithObjects(name, std::move(callback));
  }
  void postNotification(const std::string& name, const Dictionary& userInfo) override {
    postNotificationWithObjects(name, userInfo, {});
  }
  void postNotificationWithObjects(const std::string& name, const Dictionary& userInfo,
                                   const NotificationObjects& objects) override {
    {
      std::lock_guard lock(owner_.mutex_);
      owner_.localPosts_.emplace_back(name, userInfo);
    }
    inner_->postNotificationWithObjects(name, userInfo, objects);
  }

 private:
  NotificationRecorder& owner_;
  std::unique_ptr<LocalNotifyCenter> inner_ = newInProcessLocalNotifyCenter();
};

NotificationRecorder::NotificationRecorder()
    : darwin_(std::make_unique<Darwin>(*this)), local_(std::make_unique<Local>(*this)) {
  setDarwinNotifyCenter(darwin_.get());
  setLocalNotifyCenter(local_.get());
}

NotificationRecorder::~NotificationRecorder() {
  setDarwinNotifyCenter(nullptr);
  setLocalNotifyCenter(nullptr);
}

std::vector<std::string> NotificationRecorder::darwinPosts() const {
  std::lock_guard lock(mutex_);
  return darwinPosts_;
}

std::vector<std::pair<std::string, Dictionary>> NotificationRecorder::localPosts() const {
  std::lock_guard lock(mutex_);
  return localPosts_;
}

void NotificationRecorder::clear() {
  std::lock_guard lock(mutex_);
  darwinPosts_.clear();
  localPosts_.clear();
}

}  // namespace pelorin::platform::testing
