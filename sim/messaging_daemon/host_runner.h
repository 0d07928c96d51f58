#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/bus_connection.h"
#include "platform/run_loop.h"
#include "sim/messaging_daemon/daemon_events.h"
#include "sim/messaging_daemon/event_sink.h"

namespace pelorin::sim {

// What every host process is told about itself on its command line.
struct HostIdentity {
  std::string bundleId;
  std::string processName;
  std::string busName;
  std::string jsonEvents;
};

// Adds --bundle-id, --process-name, --bus-name and --json-events to `app`,
// whose help names the defaults already in `identity`.
void addHostOptions(CLI::App& app, HostIdentity& identity);

// Parses the command line; the exit status when the program is to stop
// (help, --version, bad use).
std::optional<int> parseHostOptions(CLI::App& app, int argc, char** argv);

// The start-up a host process shares: stop signals, its identity, the session
// bus, the event sink, the tweaks, serving its control interface and the main
// loop. Each step that can fail returns non-zero after saying why on stderr.
// A host that loses its bus connection says so on stderr and exits 1: without
// its name nobody could reach it.
class HostRunner {
 public:
  // `program` prefixes every complaint.
  explicit HostRunner(std::string program) : program_(std::move(program)) {}

  // Blocks the stop signals, takes on the identity and opens the bus and the
  // event sink, whose signals come from `interface`.
  int start(const HostIdentity& identity, const std::string& interface);

  const EventReporter& report() const { return report_; }
  const std::shared_ptr<platform::RunLoop>& mainLoop() const { return mainLoop_; }
  sd_bus* bus() const { return bus_.get(); }
  const std::string& objectPath() const { return path_; }

  // Loads the tweaks meant for this process, reporting each.
  void loadTweaks();

  // Takes the bus name once the control interface attached (`attached` is the
  // result of attaching it), and lets the main loop serve the bus and stop on
  // a signal or when the connection is lost.
  int serve(int attached);

  // Reports `ready`, runs the main loop and leaves: with status 0 after a
  // stop signal, 1 after "lost the session bus: REASON" on stderr.
  [[noreturn]] void run(const nlohmann::json& ready);

  int fail(const std::string& why) const;

 private:
  const std::string program_;
  int signals_ = -1;
  std::string busName_;
  std::string path_;
  platform::bus::BusPtr bus_;
  std::optional<std::string> lostBus_;  // why the connection was lost; main loop only
  std::shared_ptr<platform::RunLoop> mainLoop_;
  std::unique_ptr<EventSink> events_;
  EventReporter report_;
};

// Runs `body` and turns what escapes it into the exit status.
template <typename Body>
int runHost(const HostRunner& host, Body&& body) {
  try {
    return body();
  } catch (const std::exception& e) {
    return host.fail(std::string("stopped: ") + e.what());
  } catch (...) {
    return host.fail("stopped");
  }
}

}  // namespace pelorin::sim
