#include "incoming/received_sms_worker.h"

#include "common/logger.h"
#include "incoming/incoming_message_handler.h"

namespace pelorin {

ReceivedSMSWorker::ReceivedSMSWorker(IncomingMessageHandler& handler,
                                     std::chrono::milliseconds lookupBound)
    : handler_(handler), lookupBound_(lookupBound), worker_([this] { work(); }) {}

ReceivedSMSWorker::~ReceivedSMSWorker() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  worker_.join();
  if (lookupThread_.joinable()) lookupThread_.join();
}

void ReceivedSMSWorker::take(const platform::Dictionary& record) {
  {
    std::lock_guard lock(mutex_);
    if (onTheirWay_ > 0 || IncomingMessageHandler::needsSenderLookup(record)) {
      if (waiting_.size() >= kMaxWaitingRecords) {
        Logger::log("Dropped a received record: %@ records are waiting already",
                    kMaxWaitingRecords);
        return;
      }
      ++onTheirWay_;
      waiting_.push_back({record, platform::RunLoop::current()});
      wake_.notify_one();
      return;
    }
  }
  auto resolved = handler_.resolvedRecord(record, [](const Text& name) { return name; });
  if (resolved) handler_.deliverReceivedSMS(*resolved);
}

void ReceivedSMSWorker::work() {
  while (true) {
    Waiting next;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
      if (stopping_) return;
      next = std::move(waiting_.front());
      waiting_.pop_front();
    }
    handle(next);
  }
}

void ReceivedSMSWorker::handle(const Waiting& waiting) {
  auto resolved = handler_.resolvedRecord(waiting.record,
                                          [this](const Text& name) { return boundedLookup(name); });
  waiting.loop->perform([this, alive = std::weak_ptr<int>(alive_), record = std::move(resolved)] {
    if (!alive.lock()) return;
    if (record) handler_.deliverReceivedSMS(*record);
    std::lock_guard lock(mutex_);
    --onTheirWay_;
  });
}

Text ReceivedSMSWorker::boundedLookup(const Text& name) {
  const auto deadline = std::chrono::steady_clock::now() + lookupBound_;
  // An earlier lookup that outlived its record's wait still runs.
  if (lookup_.valid() && lookup_.wait_until(deadline) != std::future_status::ready) {
    Logger::log("Sender %@ not looked up: an earlier lookup is still running", name);
    return name;
  }
  if (lookupThread_.joinable()) lookupThread_.join();
  std::packaged_task<Text()> lookup([this, name] { return handler_.numberForName(name); });
  lookup_ = lookup.get_future();
  lookupThread_ = std::thread(std::move(lookup));
  if (lookup_.wait_until(deadline) != std::future_status::ready) {
    Logger::log("Sender %@ not found within %@ ms: delivered under the name", name,
                lookupBound_.count());
    return name;
  }
  return lookup_.get();
}

}  // namespace pelorin
