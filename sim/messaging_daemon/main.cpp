// pelorin-daemon-host: the phone's messaging daemon, stood in as a process of
// its own. It owns the carrier message centre, the service sessions and the
// message store, loads the tweaks meant for it, and is driven through its
// control interface on the session bus.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "platform/notification_center.h"
#include "platform/root_path.h"
#include "sim/messaging_daemon/control_interface.h"
#include "sim/messaging_daemon/daemon_events.h"
#include "sim/messaging_daemon/host_runner.h"
#include "sim/messaging_daemon/reporting_notify_center.h"
#include "sim/messaging_daemon/task_queue.h"

namespace {

using namespace pelorin;
using namespace pelorin::sim;

struct HostOptions {
  DaemonOptions daemon;
  HostIdentity identity{"com.apple.imagent", "imagent", "com.talvern.sim.MessagingDaemon", ""};
};

// The options, or the exit status when the program is to stop (help, bad use).
std::variant<HostOptions, int> parseOptions(int argc, char** argv) {
  HostOptions options;
  CLI::App app("pelorin-daemon-host: the phone's messaging daemon, stood in as a process",
               "pelorin-daemon-host");
  bool iphone = false;
  bool noIphone = false;
  bool noSMS = false;
  bool noiMessage = false;
  std::vector<std::string> services;
  std::vector<std::string> without;
  app.add_flag("--iphone", iphone, "a device with a phone (the default)");
  app.add_flag("--no-iphone", noIphone, "a device without a carrier")->excludes("--iphone");
  app.add_option("--services", services, "the service sessions, comma-separated (SMS,iMessage)")
      ->delimiter(',');
  app.add_flag("--no-sms-session", noSMS, "no \"SMS\" service session");
  app.add_flag("--no-imessage-session", noiMessage, "no \"iMessage\" service session");
  app.add_option("--without-method", without,
                 "a replaceable method the host does not offer (its selector); repeatable");
  addHostOptions(app, options.identity);
  if (auto status = parseHostOptions(app, argc, argv)) return *status;
  options.daemon.isAniPhone = !noIphone;
  if (app.count("--services") > 0) options.daemon.services = services;
  auto drop = [&](const std::string& service) { std::erase(options.daemon.services, service); };
  if (noSMS) drop("SMS");
  if (noiMessage) drop("iMessage");
  options.daemon.withoutMethods.insert(without.begin(), without.end());
  options.daemon.databasePath = platform::resolvePath(MessageStore::kDatabasePath);
  return options;
}

HostRunner host("pelorin-daemon-host");

int run(const HostOptions& options) {
  if (int r = host.start(options.identity, ControlInterface::kInterface)) return r;
  const EventReporter& report = host.report();

  // Every post on the process-local centre is reported, the tweaks' included.
  static ReportingNotifyCenter localCenter(report);
  platform::setLocalNotifyCenter(&localCenter);
  // Sends and announcements that control calls start run here, after the reply.
  static TaskQueue work;

  // Objects first, then the tweaks (which replace their methods), then what
  // a killed run left sending is failed, then the control interface: once
  // the bus name appears, the host is ready.
  MessagingDaemon daemon(options.daemon, report,
                         [](std::function<void()> task) { work.post(std::move(task)); });
  daemon.start();
  host.loadTweaks();
  daemon.failInterruptedSends();
  ControlInterface control(daemon);
  if (int r = host.serve(control.attach(host.bus(), host.objectPath()))) return r;
  host.run({{"event", "ready"}, {"pid", getpid()}});
}

}  // namespace

int main(int argc, char** argv) {
  auto options = parseOptions(argc, argv);
  if (const int* status = std::get_if<int>(&options)) return *status;
  return runHost(host, [&] { return run(std::get<HostOptions>(options)); });
}
