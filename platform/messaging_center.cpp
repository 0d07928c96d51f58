#include "platform/messaging_center.h"

#include <atomic>
#include <map>
#include <mutex>
#include <vector>

#include "platform/run_loop.h"

namespace pelorin::platform {

// Provided by the platform build (the session-bus centres on Linux).
MessagingCenterProvider& defaultMessagingCenters();

namespace {

std::atomic<MessagingCenterProvider*> installedProvider{nullptr};

// The servers of one in-process provider: per name, the handlers of the
// serving centre and its thread's loop.
class InProcessRegistry {
 public:
  struct Serving {
    std::weak_ptr<RunLoop> loop;
    std::function<void(const std::string&, const Dictionary&)> deliver;
  };

  bool serve(const std::string& name, Serving serving) {
    std::lock_guard lock(mutex_);
    auto it = servers_.find(name);
    if (it != servers_.end() && !it->second.loop.expired()) return false;
    servers_[name] = std::move(serving);
    return true;
  }

  bool send(const std::string& name, const std::string& messageName, const Dictionary& userInfo) {
    Serving serving;
    {
      std::lock_guard lock(mutex_);
      auto it = servers_.find(name);
      if (it == servers_.end()) return false;
      serving = it->second;
    }
    auto loop = serving.loop.lock();
    if (!loop) return false;
    loop->perform(
        [deliver = serving.deliver, messageName, userInfo] { deliver(messageName, userInfo); });
    return true;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, Serving> servers_;  // guarded by mutex_
};

class InProcessCenter final : public CPDistributedMessagingCenter,
                              public std::enable_shared_from_this<InProcessCenter> {
 public:
  InProcessCenter(std::string name, std::shared_ptr<InProcessRegistry> registry)
      : name_(std::move(name)), registry_(std::move(registry)) {}

  const std::string& name() const override { return name_; }

  bool runServerOnCurrentThread() override {
    std::weak_ptr<InProcessCenter> self = shared_from_this();
    return registry_->serve(name_, {RunLoop::current(), [self](const std::string& messageName,
                                                               const Dictionary& userInfo) {
                                      if (auto center = self.lock())
                                        center->deliver(messageName, userInfo);
                                    }});
  }

  void registerForMessageName(const std::string& messageName, Handler handler) override {
    std::lock_guard lock(mutex_);
    handlers_[messageName].push_back(std::move(handler));
  }

  bool sendMessageName(const std::string& messageName, const Dictionary& userInfo) override {
    return registry_->send(name_, messageName, userInfo);
  }

 private:
  void deliver(const std::string& messageName, const Dictionary& userInfo) {
    std::vector<Handler> handlers;
    {
      std::lock_guard lock(mutex_);
      auto it = handlers_.find(messageName);
      if (it != handlers_.end()) handlers = it->second;
    }
    for (const auto& handler : handlers) handler(messageName, userInfo);
  }

  const std::string name_;
  const std::shared_ptr<InProcessRegistry> registry_;
  std::mutex mutex_;
  std::map<std::string, std::vector<Handler>> handlers_;  // guarded by mutex_
};

class InProcessCenters final : public MessagingCenterProvider {
 public:
  std::shared_ptr<CPDistributedMessagingCenter> centerNamed(const std::string& name) override {
    return std::make_shared<InProcessCenter>(name, registry_);
  }

 private:
  const std::shared_ptr<InProcessRegistry> registry_ = std::make_shared<InProcessRegistry>();
};

}  // namespace

std::shared_ptr<CPDistributedMessagingCenter> CPDistributedMessagingCenter::centerNamed(
    const std::string& name) {
  return messagingCenters().centerNamed(name);
}

MessagingCenterProvider& messagingCenters() {
  if (auto* provider = installedProvider.load()) return *provider;
  return defaultMessagingCenters();
}

void setMessagingCenters(MessagingCenterProvider* provider) {
  installedProvider.store(provider);
}

std::unique_ptr<MessagingCenterProvider> newInProcessMessagingCenters() {
  return std::make_unique<InProcessCenters>();
}

}  // namespace pelorin::platform
