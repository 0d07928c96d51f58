// System-wide notifications as D-Bus signals on a session bus.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/linux/bus_connection.h"
#include "platform/session_bus.h"

namespace pelorin::platform {
namespace {

constexpr char kNotifyPath[] = "/com/talvern/platform/Notify";
constexpr char kNotifyInterface[] = "com.talvern.platform.Notify";
constexpr char kPostMember[] = "Post";

// One connection, served by the centre's notification thread. Other threads
// use the connection under busMutex_ and then wake the thread, because a
// synchronous call may have read signals that are now waiting in sd-bus's
// queue. Signals are collected under the lock and their callbacks run after
// it is released, so a callback may post or observe.
class BusDarwinNotifyCenter final : public DarwinNotifyCenter {
 public:
  explicit BusDarwinNotifyCenter(Text address)
      : address_(std::move(address)), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

  ~BusDarwinNotifyCenter() override {
    stopping_.store(true);
    wake();
    if (thread_.joinable()) thread_.join();
    ::close(wakeFd_);
  }

  void addObserver(const std::string& name, Callback callback) override {
    {
      std::lock_guard lock(observersMutex_);
      observers_[name].push_back(std::move(callback));
    }
    std::lock_guard lock(busMutex_);
    if (!connectLocked() || matchedNames_.count(name) != 0) return;
    const std::string rule = std::string("type='signal',path='") + kNotifyPath + "',interface='" +
                             kNotifyInterface + "',member='" + kPostMember +
                             "',arg0=" + bus::matchRuleValue(name);
    // Synchronous: once it returns, posts from any process reach this one.
    const int r =
        sd_bus_add_match(bus_.get(), nullptr, rule.c_str(), &BusDarwinNotifyCenter::onPost, this);
    if (r < 0) {
      std::fprintf(stderr, "pelorin: cannot observe %s: %s\n", name.c_str(),
                   bus::errorText(r).c_str());
      return;
    }
    matchedNames_.insert(name);
    wakeUnlessServing();
  }

  void postNotification(const std::string& name) override {
    std::lock_guard lock(busMutex_);
    if (!connectLocked()) return;
    // Sending reads nothing once the connection is up; only the first flush,
    // which waits for the bus's welcome, may queue signals for the thread.
    const bool wasReady = sd_bus_is_ready(bus_.get()) > 0;
    int r = sd_bus_emit_signal(bus_.get(), kNotifyPath, kNotifyInterface, kPostMember, "s",
                               name.c_str());
    if (r >= 0) r = sd_bus_flush(bus_.get());
    if (r < 0)
      std::fprintf(stderr, "pelorin: cannot post %s: %s\n", name.c_str(),
                   bus::errorText(r).c_str());
    if (!wasReady) wakeUnlessServing();
  }

 private:
  // Opens the connection on first use (once) and starts the notification thread.
  bool connectLocked() {
    if (bus_) return true;
    if (triedConnecting_) return false;
    triedConnecting_ = true;
    bus_ = bus::openBus(address_);
    if (!bus_) return false;
    thread_ = std::thread([this] { serve(); });
    return true;
  }

  static int onPost(sd_bus_message* message, void* self, sd_bus_error*) {
    const char* name = nullptr;
    if (sd_bus_message_read_basic(message, 's', &name) >= 0 && name != nullptr) {
      static_cast<BusDarwinNotifyCenter*>(self)->arrived_.emplace_back(name);
    }
    return 0;
  }

  // The notification thread.
  void serve() {
    servingThread_ = std::this_thread::get_id();
    while (!stopping_.load()) {
      pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}};
      int timeout = -1;
      std::vector<std::string> arrived;
      {
        std::lock_guard lock(busMutex_);
        if (!processLocked()) return;
        arrived.swap(arrived_);
        fds[1] = {sd_bus_get_fd(bus_.get()), static_cast<short>(sd_bus_get_events(bus_.get())), 0};
        timeout = pollTimeout();
      }
      deliver(arrived);
      if (!arrived.empty()) continue;  // callbacks may have queued more work
      ::poll(fds, 2, timeout);
      std::uint64_t count = 0;
      [[maybe_unused]] auto drained = ::read(wakeFd_, &count, sizeof count);
    }
  }

  // False when the connection failed; the centre then goes quiet.
  bool processLocked() {
    int r = 0;
    while ((r = sd_bus_process(bus_.get(), nullptr)) > 0) {
    }
    if (r < 0)
      std::fprintf(stderr, "pelorin: notification bus lost: %s\n", bus::errorText(r).c_str());
    return r >= 0;
  }

  int pollTimeout() {
    std::uint64_t usec = 0;
    if (sd_bus_get_timeout(bus_.get(), &usec) < 0 || usec == UINT64_MAX) return -1;
    const auto left = std::chrono::steady_clock::time_point(std::chrono::microseconds(usec)) -
                      std::chrono::steady_clock::now();
    return static_cast<int>(
        std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
  }

  void deliver(const std::vector<std::string>& names) {
    for (const auto& name : names) {
      std::vector<Callback> callbacks;
      {
        std::lock_guard lock(observersMutex_);
        auto it = observers_.find(name);
        if (it != observers_.end()) callbacks = it->second;
      }
      for (const auto& callback : callbacks) {
        try {
          callback(name);
        } catch (...) {
          std::fprintf(stderr, "pelorin: an observer of %s threw; ignored\n", name.c_str());
        }
      }
    }
  }

  void wakeUnlessServing() {
    if (std::this_thread::get_id() != servingThread_.load()) wake();
  }

  void wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
  }

  const Text address_;
  const int wakeFd_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<std::thread::id> servingThread_{};

  // Guarded by busMutex_:
  std::mutex busMutex_;
  bus::BusPtr bus_;
  bool triedConnecting_ = false;
  std::set<std::string> matchedNames_;
  std::vector<std::string> arrived_;

  // Guarded by observersMutex_:
  std::mutex observersMutex_;
  std::map<std::string, std::vector<Callback>> observers_;
};

}  // namespace

std::unique_ptr<DarwinNotifyCenter> newBusDarwinNotifyCenter(Text address) {
  return std::make_unique<BusDarwinNotifyCenter>(std::move(address));
}

bool busReachable(Text address) {
  return bus::openBus(address) != nullptr;
}

}  // namespace pelorin::platform
