#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace pelorin::platform::testing {

class ChildProcess;

// A private session bus for one test: a dbus-daemon of its own, reachable
// through DBUS_SESSION_BUS_ADDRESS while the object lives (the previous value
// is restored afterwards). Nothing depends on a desktop session.
class PrivateBus {
 public:
  PrivateBus();
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  // False when dbus-daemon could not be started.
  bool started() const { return !address_.empty(); }
  const std::string& address() const { return address_; }

  // Ends the bus daemon: every client loses its connection.
  void stop();

  // Waits until some connection owns `name` on this bus.
  bool waitForName(const std::string& name,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // Waits until no connection owns `name` on this bus.
  bool waitForNameGone(const std::string& name,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

 private:
  bool waitForOwner(const std::string& name, bool owned, std::chrono::milliseconds timeout) const;

  std::unique_ptr<ChildProcess> daemon_;
  std::string address_;
  std::string previousAddress_;
  bool hadPreviousAddress_ = false;
};

}  // namespace pelorin::platform::testing
