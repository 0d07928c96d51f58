#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/run_loop.h"

namespace pelorin::platform {

using Clock = std::chrono::steady_clock;

// poll(2) over the sources' descriptors plus an eventfd that perform() and
// stop() write to wake the loop.
class RunLoop::Impl {
 public:
  Impl() : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~Impl() {
    if (wakeFd_ >= 0) ::close(wakeFd_);
  }

  void addSource(std::shared_ptr<Source> source) { sources_.push_back(std::move(source)); }

  void perform(std::function<void()> task) {
    {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    wake();
  }

  void stop() {
    {
      std::lock_guard lock(mutex_);
      stopRequested_ = true;
    }
    wake();
  }

  void run() {
    while (!takeStopRequest()) iterate(std::nullopt);
  }

  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto limit = Clock::now() + timeout;
    while (!done()) {
      if (Clock::now() >= limit || takeStopRequest()) return done();
      iterate(limit);
    }
    return true;
  }

 private:
  void wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
  }

  bool takeStopRequest() {
    std::lock_guard lock(mutex_);
    return std::exchange(stopRequested_, false);
  }

  // One wait and the work it found.
  void iterate(std::optional<Clock::time_point> limit) {
    std::vector<pollfd> fds{{wakeFd_, POLLIN, 0}};
    std::vector<std::optional<Clock::time_point>> deadlines;
    auto nearest = limit;
    for (const auto& source : sources_) {
      fds.push_back({source->fileDescriptor(), toPollEvents(source->events()), 0});
      deadlines.push_back(source->deadline());
      if (const auto& deadline = deadlines.back()) {
        nearest = nearest ? std::min(*nearest, *deadline) : deadline;
      }
    }
    ::poll(fds.data(), fds.size(), timeoutMillis(nearest));
    if (fds[0].revents != 0) drainWake();
    runTasks();
    dispatchReady(fds, deadlines);
  }

  static short toPollEvents(int events) {
    short result = 0;
    if (events & Source::kReadable) result |= POLLIN;
    if (events & Source::kWritable) result |= POLLOUT;
    return result;
  }

  static int timeoutMillis(std::optional<Clock::time_point> until) {
    if (!until) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
  }

  void drainWake() {
    std::uint64_t count = 0;
    [[maybe_unused]] auto read = ::read(wakeFd_, &count, sizeof count);
  }

  void runTasks() {
    std::deque<std::function<void()>> tasks;
    {
      std::lock_guard lock(mutex_);
      tasks.swap(tasks_);
    }
    for (auto& task : tasks) task();
  }

  // Sources whose descriptor is ready or whose deadline passed; a source that
  // asks to leave is dropped.
  void dispatchReady(const std::vector<pollfd>& fds,
                     const std::vector<std::optional<Clock::time_point>>& deadlines) {
    const auto now = Clock::now();
    std::vector<std::shared_ptr<Source>> keep;
    const std::size_t watched = fds.size() - 1;
    for (std::size_t i = 0; i < watched; ++i) {
      const auto source = sources_[i];
      const bool ready = fds[i + 1].revents != 0;
      const bool due = deadlines[i] && *deadlines[i] <= now;
      if ((ready || due) && !source->dispatch()) continue;
      keep.push_back(source);
    }
    // Sources added during dispatch were appended after the snapshot.
    for (std::size_t i = watched; i < sources_.size(); ++i) keep.push_back(sources_[i]);
    sources_.swap(keep);
  }

  const int wakeFd_;
  std::vector<std::shared_ptr<Source>> sources_;  // loop thread only

  // Guarded by mutex_:
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
  bool stopRequested_ = false;
};

RunLoop::RunLoop() : impl_(std::make_unique<Impl>()) {}
RunLoop::~RunLoop() = default;

std::shared_ptr<RunLoop> RunLoop::current() {
  thread_local std::shared_ptr<RunLoop> loop = std::make_shared<RunLoop>();
  return loop;
}

void RunLoop::addSource(std::shared_ptr<Source> source) {
  impl_->addSource(std::move(source));
}
void RunLoop::perform(std::function<void()> task) {
  impl_->perform(std::move(task));
}
void RunLoop::run() {
  impl_->run();
}
bool RunLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  return impl_->runUntil(done, timeout);
}
void RunLoop::stop() {
  impl_->stop();
}

}  // namespace pelorin::platform
