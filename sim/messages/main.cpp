// pelorin-messages-host: the phone's Messages application, stood in as a
// process of its own. It owns the conversations and their sends, which reach
// the messaging daemon host over the session bus, loads the tweaks meant for
// it, and is driven through its control interface.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "platform/linux/bus_connection.h"
#include "platform/process_info.h"
#include "platform/tweak_loader.h"
#include "sim/messages/control_interface.h"
#include "sim/messages/messages_app.h"
#include "sim/messaging_daemon/event_sink.h"
#include "sim/messaging_daemon/task_queue.h"

namespace {

using namespace pelorin;
using namespace pelorin::sim;

struct HostOptions {
  MessagesOptions app;
  std::string bundleId = "com.apple.MobileSMS";
  std::string processName = "MobileSMS";
  std::string busName = "com.talvern.sim.Messages";
  std::string jsonEvents;
};

// The options, or the exit status when the program is to stop (help, bad use).
std::variant<HostOptions, int> parseOptions(int argc, char** argv) {
  HostOptions options;
  CLI::App app("pelorin-messages-host: the phone's Messages application, stood in as a process",
               "pelorin-messages-host");
  std::vector<std::string> without;
  app.add_option("--bundle-id", options.bundleId, "bundle identifier (com.apple.MobileSMS)");
  app.add_option("--process-name", options.processName, "process name (MobileSMS)");
  app.add_option("--without-method", without,
                 "a replaceable method the host does not offer (its selector); repeatable");
  app.add_option("--bus-name", options.busName, "bus name of the control interface");
  app.add_option("--model", options.app.model, "device model (iPhone)");
  app.add_option("--daemon-bus-name", options.app.daemonBusName,
                 "bus name of the messaging daemon host (com.talvern.sim.MessagingDaemon)");
  app.add_option("--json-events", options.jsonEvents, "write every event to FILE (- for stdout)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  options.app.withoutMethods.insert(without.begin(), without.end());
  return options;
}

// SIGTERM and SIGINT end the main loop.
class SignalSource final : public platform::RunLoop::Source {
 public:
  explicit SignalSource(int fd) : fd_(fd) {}
  int fileDescriptor() override { return fd_; }
  int events() override { return kReadable; }
  std::optional<std::chrono::steady_clock::time_point> deadline() override { return std::nullopt; }
  bool dispatch() override {
    platform::RunLoop::current()->stop();
    return true;
  }

 private:
  const int fd_;
};

int signalDescriptor() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  // Blocked before any thread starts, so every thread leaves them to the loop.
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  return signalfd(-1, &stopSignals, SFD_CLOEXEC);
}

int fail(const std::string& why) {
  std::fprintf(stderr, "pelorin-messages-host: %s\n", why.c_str());
  return 1;
}

int run(const HostOptions& options) {
  const int signals = signalDescriptor();
  platform::setBundleIdentifier(options.bundleId);
  platform::setProcessName(options.processName);
  auto path = platform::bus::objectPathForName(options.busName);
  if (!path) return fail("not a bus name: " + options.busName);

  std::string error;
  auto bus = platform::bus::openBus(std::nullopt, &error);
  if (!bus) return fail("no session bus: " + error);
  auto mainLoop = platform::RunLoop::current();
  EventSink events(mainLoop, bus.get(), *path, MessagesControlInterface::kInterface,
                   options.jsonEvents);
  if (!events.ready()) return fail("cannot write " + options.jsonEvents);
  const EventReporter report = [&events](const nlohmann::json& event) {
    events.publish(jsonLine(event));
  };
  // Sends that control calls start run here, so the bus is served meanwhile.
  static TaskQueue work;

  // Objects first, then the tweaks (which replace their methods), then the
  // control interface: once the bus name appears, the host is ready.
  static MessagesApp app(options.app, report);
  app.start();
  for (const auto& load : platform::loadTweaks()) {
    report(
        {{"event", "tweak"}, {"name", load.name}, {"loaded", load.loaded}, {"error", load.error}});
  }
  MessagesControlInterface control(app, mainLoop,
                                   [](std::function<void()> task) { work.post(std::move(task)); });
  int r = control.attach(bus.get(), *path);
  if (r >= 0) r = sd_bus_request_name(bus.get(), options.busName.c_str(), 0);
  if (r < 0) return fail("cannot serve " + options.busName + ": " + platform::bus::errorText(r));
  mainLoop->addSource(platform::bus::newBusSource(bus.get(), nullptr));
  if (signals >= 0) mainLoop->addSource(std::make_shared<SignalSource>(signals));
  report({{"event", "ready"}, {"pid", getpid()}});

  mainLoop->run();
  std::fflush(nullptr);
  // Tweaks own threads and never-destroyed singletons that may still run;
  // leave without running destructors under them.
  _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  auto options = parseOptions(argc, argv);
  if (const int* status = std::get_if<int>(&options)) return *status;
  try {
    return run(std::get<HostOptions>(options));
  } catch (const std::exception& e) {
    return fail(std::string("stopped: ") + e.what());
  } catch (...) {
    return fail("stopped");
  }
}
