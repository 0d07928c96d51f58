// pelorin-daemon-host: the phone's messaging daemon, stood in as a process of
// its own. It owns the carrier message centre, the service sessions and the
// message store, loads the tweaks meant for it, and is driven through its
// control interface on the session bus.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/json_object.h"
#include "platform/linux/bus_connection.h"
#include "platform/process_info.h"
#include "platform/tweak_loader.h"
#include "sim/messaging_daemon/control_interface.h"
#include "sim/messaging_daemon/event_sink.h"

namespace {

using namespace pelorin;
using namespace pelorin::sim;

constexpr char kUsage[] =
    "usage: pelorin-daemon-host [--iphone | --no-iphone] [--bundle-id ID] [--process-name NAME]\n"
    "                           [--services SMS,iMessage] [--bus-name NAME] [--json-events "
    "FILE|-]\n";

struct HostOptions {
  DaemonOptions daemon;
  std::string bundleId = "com.apple.imagent";
  std::string processName = "imagent";
  std::string busName = "com.talvern.sim.MessagingDaemon";
  std::string jsonEvents;
};

std::vector<std::string> splitList(const std::string& list) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= list.size()) {
    const auto comma = std::min(list.find(',', start), list.size());
    if (comma > start) items.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return items;
}

std::optional<HostOptions> parseOptions(int argc, char** argv) {
  HostOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--iphone") {
      options.daemon.isAniPhone = true;
    } else if (arg == "--no-iphone") {
      options.daemon.isAniPhone = false;
    } else if (arg == "--bundle-id" && hasValue) {
      options.bundleId = argv[++i];
    } else if (arg == "--process-name" && hasValue) {
      options.processName = argv[++i];
    } else if (arg == "--services" && hasValue) {
      options.daemon.services = splitList(argv[++i]);
    } else if (arg == "--bus-name" && hasValue) {
      options.busName = argv[++i];
    } else if (arg == "--json-events" && hasValue) {
      options.jsonEvents = argv[++i];
    } else {
      return std::nullopt;
    }
  }
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
  std::fprintf(stderr, "pelorin-daemon-host: %s\n", why.c_str());
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
  EventSink events(mainLoop, bus.get(), *path, ControlInterface::kInterface, options.jsonEvents);
  if (!events.ready()) return fail("cannot write " + options.jsonEvents);

  // Objects first, then the tweaks (which replace their methods), then the
  // control interface: once the bus name appears, the host is ready.
  MessagingDaemon daemon(
      options.daemon, [&events](const std::string& event, const StoredMessage& m) {
        events.publish(
            platform::JsonObject().add("event", event).addRaw("message", messageJson(m)).str());
      });
  daemon.start();
  for (const auto& load : platform::loadTweaks()) {
    events.publish(platform::JsonObject()
                       .add("event", "tweak")
                       .add("name", load.name)
                       .add("loaded", load.loaded)
                       .add("error", load.error)
                       .str());
  }
  ControlInterface control(daemon);
  int r = control.attach(bus.get(), *path);
  if (r >= 0) r = sd_bus_request_name(bus.get(), options.busName.c_str(), 0);
  if (r < 0) return fail("cannot serve " + options.busName + ": " + platform::bus::errorText(r));
  mainLoop->addSource(platform::bus::newBusSource(bus.get(), nullptr));
  if (signals >= 0) mainLoop->addSource(std::make_shared<SignalSource>(signals));
  events.publish(platform::JsonObject()
                     .add("event", "ready")
                     .add("pid", static_cast<std::int64_t>(getpid()))
                     .str());

  mainLoop->run();
  std::fflush(nullptr);
  // Tweaks own threads and never-destroyed singletons that may still run;
  // leave without running destructors under them.
  _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  auto options = parseOptions(argc, argv);
  if (!options) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    return run(*options);
  } catch (const std::exception& e) {
    return fail(std::string("stopped: ") + e.what());
  } catch (...) {
    return fail("stopped");
  }
}
