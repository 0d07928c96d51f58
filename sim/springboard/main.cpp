// pelorin-springboard-host: the phone's home screen, stood in as a process of
// its own. It owns the push receiver (whose own handling shows a banner), the
// alerts and the device model, loads the tweaks meant for it, and is driven
// through its control interface on the session bus.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <variant>

#include "platform/linux/bus_connection.h"
#include "platform/process_info.h"
#include "platform/tweak_loader.h"
#include "sim/messaging_daemon/event_sink.h"
#include "sim/springboard/springboard.h"
#include "sim/springboard/springboard_control.h"

namespace {

using namespace pelorin;
using namespace pelorin::sim;

struct HostOptions {
  SpringBoardOptions springBoard;
  std::string bundleId = "com.apple.springboard";
  std::string processName = "SpringBoard";
  std::string busName = "com.talvern.sim.SpringBoard";
  std::string jsonEvents;
};

// The options, or the exit status when the program is to stop (help, bad use).
std::variant<HostOptions, int> parseOptions(int argc, char** argv) {
  HostOptions options;
  CLI::App app("pelorin-springboard-host: the phone's home screen, stood in as a process",
               "pelorin-springboard-host");
  bool noPushReceiver = false;
  app.add_option("--model", options.springBoard.model, "the device model (iPhone)");
  app.add_option("--bundle-id", options.bundleId, "bundle identifier (com.apple.springboard)");
  app.add_option("--process-name", options.processName, "process name (SpringBoard)");
  app.add_flag("--no-push-receiver", noPushReceiver,
               "do not offer connection:didReceiveIncomingMessage: for replacement");
  app.add_option("--bus-name", options.busName, "bus name of the control interface");
  app.add_option("--json-events", options.jsonEvents, "write every event to FILE (- for stdout)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  options.springBoard.offersPushReceiver = !noPushReceiver;
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
  std::fprintf(stderr, "pelorin-springboard-host: %s\n", why.c_str());
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
  EventSink events(mainLoop, bus.get(), *path, SpringBoardControl::kInterface, options.jsonEvents);
  if (!events.ready()) return fail("cannot write " + options.jsonEvents);
  const EventReporter report = [&events](const nlohmann::json& event) {
    events.publish(jsonLine(event));
  };

  // Objects first, then the tweaks (which replace the push receiver), then
  // the control interface: once the bus name appears, the host is ready.
  static SpringBoard springBoard(options.springBoard, report);
  springBoard.start();
  for (const auto& load : platform::loadTweaks()) {
    report(
        {{"event", "tweak"}, {"name", load.name}, {"loaded", load.loaded}, {"error", load.error}});
  }
  SpringBoardControl control(springBoard);
  int r = control.attach(bus.get(), *path);
  if (r >= 0) r = sd_bus_request_name(bus.get(), options.busName.c_str(), 0);
  if (r < 0) return fail("cannot serve " + options.busName + ": " + platform::bus::errorText(r));
  mainLoop->addSource(platform::bus::newBusSource(bus.get(), nullptr));
  if (signals >= 0) mainLoop->addSource(std::make_shared<SignalSource>(signals));
  report({{"event", "ready"}, {"pid", getpid()}, {"model", options.springBoard.model}});

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
