// pelorin-messages-host: the phone's Messages application, stood in as a
// process of its own. It owns the conversations and their sends, which reach
// the messaging daemon host over the session bus, loads the tweaks meant for
// it, and is driven through its control interface.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <string>
#include <variant>
#include <vector>

#include "sim/messages/control_interface.h"
#include "sim/messages/messages_app.h"
#include "sim/messaging_daemon/host_runner.h"
#include "sim/messaging_daemon/task_queue.h"

namespace {

using namespace pelorin;
using namespace pelorin::sim;

struct HostOptions {
  MessagesOptions app;
  HostIdentity identity{"com.apple.MobileSMS", "MobileSMS", "com.talvern.sim.Messages", ""};
};

// The options, or the exit status when the program is to stop (help, bad use).
std::variant<HostOptions, int> parseOptions(int argc, char** argv) {
  HostOptions options;
  CLI::App app("pelorin-messages-host: the phone's Messages application, stood in as a process",
               "pelorin-messages-host");
  std::vector<std::string> without;
  app.add_option("--without-method", without,
                 "a replaceable method the host does not offer (its selector); repeatable");
  app.add_option("--model", options.app.model, "device model (iPhone)");
  app.add_option("--daemon-bus-name", options.app.daemonBusName,
                 "bus name of the messaging daemon host (com.talvern.sim.MessagingDaemon)");
  addHostOptions(app, options.identity);
  if (auto status = parseHostOptions(app, argc, argv)) return *status;
  options.app.withoutMethods.insert(without.begin(), without.end());
  return options;
}

HostRunner host("pelorin-messages-host");

int run(const HostOptions& options) {
  if (int r = host.start(options.identity, MessagesControlInterface::kInterface)) return r;
  const EventReporter& report = host.report();
  // Sends that control calls start run here, so the bus is served meanwhile.
  static TaskQueue work;

  // Objects first, then the tweaks (which replace their methods), then the
  // control interface: once the bus name appears, the host is ready.
  static MessagesApp app(options.app, report);
  app.start();
  host.loadTweaks();
  MessagesControlInterface control(app, host.mainLoop(),
                                   [](std::function<void()> task) { work.post(std::move(task)); });
  if (int r = host.serve(control.attach(host.bus(), host.objectPath()))) return r;
  host.run({{"event", "ready"}, {"pid", getpid()}});
}

}  // namespace

int main(int argc, char** argv) {
  auto options = parseOptions(argc, argv);
  if (const int* status = std::get_if<int>(&options)) return *status;
  return runHost(host, [&] { return run(std::get<HostOptions>(options)); });
}
