#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace pelorin::platform {

// A thread's run loop: it waits for its sources (a file descriptor and/or a
// deadline each) and for tasks handed to it, and runs their work on its own
// thread. Each thread has one, created on first use; hosts run the main
// thread's loop for the life of the process, and anything that must be
// served "on the current thread" (the messaging centre's server) attaches a
// source to it.
class RunLoop {
 public:
  // Something the loop watches. Its functions are called on the loop's thread.
  class Source {
   public:
    static constexpr int kReadable = 1;
    static constexpr int kWritable = 2;

    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    virtual ~Source() = default;

    // The descriptor to wait on (-1 for none) and the kReadable/kWritable
    // conditions wanted; asked again before every wait.
    virtual int fileDescriptor() = 0;
    virtual int events() = 0;
    // When dispatch() must run even without activity; nothing for never.
    virtual std::optional<std::chrono::steady_clock::time_point> deadline() = 0;
    // Does the work: called when the descriptor is ready or the deadline
    // passed. Must not throw. Returns false to be removed from the loop.
    virtual bool dispatch() = 0;
  };

  RunLoop();
  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // The calling thread's loop. The shared pointer may be kept and used from
  // other threads (perform, stop) for as long as it is held.
  static std::shared_ptr<RunLoop> current();

  // Loop thread only. The loop keeps the source until dispatch() returns false.
  void addSource(std::shared_ptr<Source> source);

  // Any thread: runs `task` on the loop's thread, in the order handed in,
  // during run()/runUntil(). Tasks must not throw.
  void perform(std::function<void()> task);

  // Loop thread: serves sources and tasks until stop() is called.
  void run();
  // Loop thread: serves until `done` returns true (checked after every piece
  // of work) or `timeout` passes; returns `done()`.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Any thread: makes run() return after the work in progress.
  void stop();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pelorin::platform
