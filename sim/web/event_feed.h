#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/bus_connection.h"

namespace pelorin::sim::web {

// The device's live events for every open page. A thread of its own, on a
// bus connection of its own, hears the hosts' `Event` signals and the
// system-wide notifications, and hands each, as one line of JSON
// {"source": S, "event": E} (S: daemon, springboard, messages, mail or
// notify), to every subscriber. A subscriber's queue is bounded: one that
// falls behind by kMaxQueued events or kMaxQueuedBytes is closed, and its
// page reconnects and loads afresh, so a slow browser never grows memory.
class EventFeed {
 public:
  static constexpr std::size_t kMaxSubscribers = 32;
  static constexpr std::size_t kMaxQueued = 1024;
  static constexpr std::size_t kMaxQueuedBytes = std::size_t{8} << 20;

  // What one page receives; safe to use from any thread.
  class Queue {
   public:
    // Waits up to `wait` for events: those queued (none on time-out), or
    // nothing once the queue is closed.
    std::optional<std::vector<std::string>> take(std::chrono::milliseconds wait);

   private:
    friend class EventFeed;
    void put(const std::string& line);
    void close();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> lines_;  // guarded by mutex_
    std::size_t bytes_ = 0;          // guarded by mutex_
    bool closed_ = false;            // guarded by mutex_
  };

  // `deviceDown` is called once, on the feed's thread, when the bus
  // connection is lost.
  explicit EventFeed(std::function<void()> deviceDown);
  ~EventFeed();

  // Connects to the bus at `address`, subscribes and starts the thread.
  // False, with the reason in `error`, when it could not.
  bool start(const std::string& address, std::string& error);

  // Ends the thread and closes every queue. Idempotent; not to be called
  // from `deviceDown`.
  void stop();

  // A new subscriber's queue; nullptr when stopped or when kMaxSubscribers
  // are open already. The subscription ends when the caller drops it.
  std::shared_ptr<Queue> subscribe();

  // Hands `line` to every subscriber (the feed's thread does this for each
  // signal it hears).
  void publish(const std::string& line);

 private:
  struct Source {
    EventFeed* feed;
    const char* name;
  };
  static int onSignal(sd_bus_message* message, void* data, sd_bus_error* error);
  void run();

  const std::function<void()> deviceDown_;
  platform::bus::BusPtr bus_;  // used by the feed's thread only, once started
  std::vector<std::unique_ptr<Source>> sources_;
  int wake_ = -1;  // eventfd that ends the thread
  std::thread thread_;

  std::mutex mutex_;
  std::list<std::weak_ptr<Queue>> queues_;  // guarded by mutex_
  bool stopped_ = false;                    // guarded by mutex_
};

}  // namespace pelorin::sim::web
