// pelorin-springboard-host: the phone's home screen, stood in as a process of
// its own. It owns the push receiver (whose own handling shows a banner), the
// alerts and the device model, loads the tweaks meant for it, and is driven
// through its control interface on the session bus.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <string>
#include <variant>

#include "sim/messaging_daemon/host_runner.h"
#include "sim/springboard/springboard.h"
#include "sim/springboard/springboard_control.h"

namespace {

using namespace pelorin;
using namespace pelorin::sim;

struct HostOptions {
  SpringBoardOptions springBoard;
  HostIdentity identity{"com.apple.springboard", "SpringBoard", "com.talvern.sim.SpringBoard", ""};
};

// The options, or the exit status when the program is to stop (help, bad use).
std::variant<HostOptions, int> parseOptions(int argc, char** argv) {
  HostOptions options;
  CLI::App app("pelorin-springboard-host: the phone's home screen, stood in as a process",
               "pelorin-springboard-host");
  bool noPushReceiver = false;
  app.add_option("--model", options.springBoard.model, "the device model (iPhone)");
  app.add_flag("--no-push-receiver", noPushReceiver,
               "do not offer connection:didReceiveIncomingMessage: for replacement");
  addHostOptions(app, options.identity);
  if (auto status = parseHostOptions(app, argc, argv)) return *status;
  options.springBoard.offersPushReceiver = !noPushReceiver;
  return options;
}

HostRunner host("pelorin-springboard-host");

int run(const HostOptions& options) {
  if (int r = host.start(options.identity, SpringBoardControl::kInterface)) return r;
  const EventReporter& report = host.report();

  // Objects first, then the tweaks (which replace the push receiver), then
  // the control interface: once the bus name appears, the host is ready.
  static SpringBoard springBoard(options.springBoard, report);
  springBoard.start();
  host.loadTweaks();
  SpringBoardControl control(springBoard);
  if (int r = host.serve(control.attach(host.bus(), host.objectPath()))) return r;
  host.run({{"event", "ready"}, {"pid", getpid()}, {"model", options.springBoard.model}});
}

}  // namespace

int main(int argc, char** argv) {
  auto options = parseOptions(argc, argv);
  if (const int* status = std::get_if<int>(&options)) return *status;
  return runHost(host, [&] { return run(std::get<HostOptions>(options)); });
}
