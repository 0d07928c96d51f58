#include "sim/messaging_daemon/host_runner.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "pelorin/version.h"
#include "platform/process_info.h"
#include "platform/tweak_loader.h"

namespace pelorin::sim {

namespace {

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

}  // namespace

void addHostOptions(CLI::App& app, HostIdentity& identity) {
  app.add_option("--bundle-id", identity.bundleId, "bundle identifier (" + identity.bundleId + ")");
  app.add_option("--process-name", identity.processName,
                 "process name (" + identity.processName + ")");
  app.add_option("--bus-name", identity.busName, "bus name of the control interface");
  app.add_option("--json-events", identity.jsonEvents, "write every event to FILE (- for stdout)");
}

std::optional<int> parseHostOptions(CLI::App& app, int argc, char** argv) {
  const std::string program = argc > 0 ? std::filesystem::path(argv[0]).filename().string() : "";
  app.set_version_flag("--version", program + " " + kPelorinVersion);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  return std::nullopt;
}

int HostRunner::start(const HostIdentity& identity, const std::string& interface) {
  signals_ = signalDescriptor();
  platform::setBundleIdentifier(identity.bundleId);
  platform::setProcessName(identity.processName);
  busName_ = identity.busName;
  auto path = platform::bus::objectPathForName(busName_);
  if (!path) return fail("not a bus name: " + busName_);
  path_ = *path;

  std::string error;
  bus_ = platform::bus::openBus(std::nullopt, &error);
  if (!bus_) return fail("no session bus: " + error);
  mainLoop_ = platform::RunLoop::current();
  events_ =
      std::make_unique<EventSink>(mainLoop_, bus_.get(), path_, interface, identity.jsonEvents);
  if (!events_->ready()) return fail("cannot write " + identity.jsonEvents);
  EventSink* events = events_.get();
  report_ = [events](const nlohmann::json& event) { events->publish(jsonLine(event)); };
  return 0;
}

void HostRunner::loadTweaks() {
  for (const auto& load : platform::loadTweaks()) {
    report_(
        {{"event", "tweak"}, {"name", load.name}, {"loaded", load.loaded}, {"error", load.error}});
  }
}

int HostRunner::serve(int attached) {
  int r = attached;
  if (r >= 0) r = sd_bus_request_name(bus_.get(), busName_.c_str(), 0);
  if (r < 0) return fail("cannot serve " + busName_ + ": " + platform::bus::errorText(r));
  mainLoop_->addSource(
      platform::bus::newBusSource(bus_.get(), nullptr, [this](const std::string& why) {
        lostBus_ = why;
        mainLoop_->stop();
      }));
  if (signals_ >= 0) mainLoop_->addSource(std::make_shared<SignalSource>(signals_));
  return 0;
}

void HostRunner::run(const nlohmann::json& ready) {
  report_(ready);
  mainLoop_->run();
  const int status = lostBus_ ? fail("lost the session bus: " + *lostBus_) : 0;
  std::fflush(nullptr);
  // Tweaks own threads and never-destroyed singletons that may still run;
  // leave without running destructors under them.
  _exit(status);
}

int HostRunner::fail(const std::string& why) const {
  std::fprintf(stderr, "%s: %s\n", program_.c_str(), why.c_str());
  return 1;
}

}  // namespace pelorin::sim
