#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/run_loop.h"
#include "platform/text.h"
#include "platform/value.h"

namespace pelorin {

class IncomingMessageHandler;

// Keeps the network wait of a received-SMS record off the thread that serves
// the centre (in the daemon, its main loop). One worker thread takes the
// records in arrival order and looks a display-name sender up; each record
// then goes back to the run loop of the thread that took it and is delivered
// there, so records are delivered in the order they arrived, and a record
// behind a slow lookup waits for it.
//
// A record that needs no lookup, arriving while no earlier record is still
// on its way, is delivered at once on the calling thread: the order is the
// same, and the common case costs no thread hand-off.
//
// A record waits at most the lookup bound for its sender's number; after it,
// the record goes on with the name as it came (as when the name is not
// found), and the lookup, still running on a thread of its own, leaves its
// answer in the contact cache for the next text. At most one lookup runs at
// a time: a record whose lookup cannot start within its bound, because an
// earlier one still runs, goes on with its name too.
//
// Threads: take() on the serving thread, whose run loop must be running for
// records to be delivered. Destroy on that thread: the destructor waits for
// the worker and a running lookup to end; records it had not handed back yet
// are dropped.
class ReceivedSMSWorker {
 public:
  // At most this many records wait for the worker; beyond it new ones are
  // dropped (with a log line), so a flood cannot grow the daemon without end.
  static constexpr std::size_t kMaxWaitingRecords = 256;

  // `lookupBound`: the longest a record waits for its sender's lookup.
  ReceivedSMSWorker(IncomingMessageHandler& handler, std::chrono::milliseconds lookupBound);
  ~ReceivedSMSWorker();
  ReceivedSMSWorker(const ReceivedSMSWorker&) = delete;
  ReceivedSMSWorker& operator=(const ReceivedSMSWorker&) = delete;

  // Delivers `record` now, or queues it for the worker, which delivers it on
  // the calling thread's run loop. Never waits on the network.
  void take(const platform::Dictionary& record);

 private:
  struct Waiting {
    platform::Dictionary record;
    std::shared_ptr<platform::RunLoop> loop;
  };

  void work();
  void handle(const Waiting& waiting);
  // The sender's number, or `name` when it is not known within the bound.
  Text boundedLookup(const Text& name);

  IncomingMessageHandler& handler_;
  const std::chrono::milliseconds lookupBound_;
  // Tasks handed to a run loop deliver only while this lives.
  const std::shared_ptr<int> alive_ = std::make_shared<int>(0);

  std::mutex mutex_;
  std::condition_variable wake_;
  // Guarded by mutex_:
  std::deque<Waiting> waiting_;
  // Records taken but not yet delivered (waiting, looked up, or handed back).
  std::size_t onTheirWay_ = 0;
  bool stopping_ = false;

  // Worker thread only: the latest lookup and the thread running it.
  std::future<Text> lookup_;
  std::thread lookupThread_;

  std::thread worker_;  // started last, joined first
};

}  // namespace pelorin
