#pragma once

#include <systemd/sd-bus.h>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/run_loop.h"

namespace pelorin::sim {

// Where the daemon host reports what happens: each event is one JSON object,
// emitted as the signal Event(s json) of the control interface and, when a
// file was given, written to it as one line. publish() may be called from any
// thread; the work is done on the main loop's thread, which owns the bus, in
// the order the events were published. An event published on that thread
// with none waiting before it goes out at once, without a trip round the
// loop. Construct on the main loop's thread.
class EventSink {
 public:
  // `jsonFile` is a path, "-" for standard output, or empty for none. The
  // file is only ever a regular file of the process's user, 0600, reached
  // without a link; ready() is false when it cannot be that.
  EventSink(std::shared_ptr<platform::RunLoop> mainLoop, sd_bus* bus, std::string objectPath,
            std::string interface, const std::string& jsonFile);
  ~EventSink();
  EventSink(const EventSink&) = delete;
  EventSink& operator=(const EventSink&) = delete;

  bool ready() const { return jsonPath_.empty() || json_ != nullptr; }
  void publish(std::string json);

 private:
  void emit(const std::string& json);

  const std::shared_ptr<platform::RunLoop> mainLoop_;
  sd_bus* const bus_;
  const std::string objectPath_;
  const std::string interface_;
  const std::string jsonPath_;
  std::FILE* json_ = nullptr;  // main loop thread only
  const std::thread::id mainThread_ = std::this_thread::get_id();

  std::mutex mutex_;
  std::size_t waiting_ = 0;  // guarded by mutex_: published, not yet emitted
};

}  // namespace pelorin::sim
