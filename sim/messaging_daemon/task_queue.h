#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace pelorin::sim {

// One worker thread that runs the tasks handed to it in order. The daemon
// host runs every send and announcement a control call starts here, after
// the call was answered, so a tweak's hook that waits on the network stalls
// neither the bus nor the main loop (which also serves the received-SMS
// centre). A task that throws is reported on standard error and skipped.
class TaskQueue {
 public:
  TaskQueue();
  // Runs the tasks still queued, then stops the thread.
  ~TaskQueue();
  TaskQueue(const TaskQueue&) = delete;
  TaskQueue& operator=(const TaskQueue&) = delete;

  // Any thread.
  void post(std::function<void()> task);

 private:
  void run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;  // guarded by mutex_
  bool stopping_ = false;                    // guarded by mutex_
  std::thread thread_;                       // started last
};

}  // namespace pelorin::sim
