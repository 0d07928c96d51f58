#include "sim/messaging_daemon/task_queue.h"

#include <cstdio>
#include <exception>

namespace pelorin::sim {

TaskQueue::TaskQueue() : thread_([this] { run(); }) {}

TaskQueue::~TaskQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void TaskQueue::post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void TaskQueue::run() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    try {
      task();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "pelorin-daemon-host: a task failed: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "pelorin-daemon-host: a task failed\n");
    }
  }
}

}  // namespace pelorin::sim
