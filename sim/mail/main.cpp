// pelorin-mail-host: the phone's Mail application, stood in as a process of
// its own. It owns the mail store with its accounts and mailboxes, loads the
// tweaks meant for it, and is fed mail through its control interface on the
// session bus or from a maildir that an ordinary mail fetcher fills.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "platform/linux/bus_connection.h"
#include "platform/notification_center.h"
#include "platform/process_info.h"
#include "platform/tweak_loader.h"
#include "sim/mail/mail_control_interface.h"
#include "sim/mail/maildir_watcher.h"
#include "sim/mail/sim_mail_store.h"
#include "sim/messaging_daemon/event_sink.h"
#include "sim/messaging_daemon/reporting_notify_center.h"
#include "sim/messaging_daemon/task_queue.h"

namespace {

using namespace pelorin;
using namespace pelorin::sim;

struct HostOptions {
  std::string bundleId = "com.apple.mobilemail";
  std::string processName = "MobileMail";
  std::string busName = "com.talvern.sim.Mail";
  std::string jsonEvents;
  std::vector<std::string> accounts;
  std::string maildir;
  bool withoutBodyMethod = false;
};

std::variant<HostOptions, int> parseOptions(int argc, char** argv) {
  HostOptions options;
  CLI::App app("pelorin-mail-host: the phone's Mail application, stood in as a process",
               "pelorin-mail-host");
  std::vector<std::string> without;
  app.add_option("--bundle-id", options.bundleId, "bundle identifier (com.apple.mobilemail)");
  app.add_option("--process-name", options.processName, "process name (MobileMail)");
  app.add_option("--account", options.accounts, "a mail account's e-mail address; repeatable");
  app.add_option("--maildir", options.maildir,
                 "deliver every file appearing in DIR/new to the first account's INBOX")
      ->needs("--account");
  app.add_option("--without-method", without,
                 "a replaceable method the host does not offer (its selector); repeatable");
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
  for (const auto& selector : without) {
    if (selector == platform::MFMailMessageStore::kSetOrGetBodySelector) {
      options.withoutBodyMethod = true;
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
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  return signalfd(-1, &stopSignals, SFD_CLOEXEC);
}

int fail(const std::string& why) {
  std::fprintf(stderr, "pelorin-mail-host: %s\n", why.c_str());
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
  EventSink events(mainLoop, bus.get(), *path, MailControlInterface::kInterface,
                   options.jsonEvents);
  if (!events.ready()) return fail("cannot write " + options.jsonEvents);
  const EventReporter report = [&events](const nlohmann::json& event) {
    events.publish(jsonLine(event));
  };

  static ReportingNotifyCenter localCenter(report);
  platform::setLocalNotifyCenter(&localCenter);
  // Announcements and body settings run here, after the control call was answered.
  static TaskQueue work;
  const MailControlInterface::Executor later = [](std::function<void()> task) {
    work.post(std::move(task));
  };

  // The store first, then the tweaks (which replace its method), then the
  // control interface: once the bus name appears, the host is ready.
  static SimMailStore store(report);
  for (const auto& account : options.accounts) store.addAccount(account);
  platform::MFMailMessageStore::registerWithRuntime(!options.withoutBodyMethod);
  for (const auto& load : platform::loadTweaks()) {
    report(
        {{"event", "tweak"}, {"name", load.name}, {"loaded", load.loaded}, {"error", load.error}});
  }
  MailControlInterface control(store, later);
  int r = control.attach(bus.get(), *path);
  if (r >= 0) r = sd_bus_request_name(bus.get(), options.busName.c_str(), 0);
  if (r < 0) return fail("cannot serve " + options.busName + ": " + platform::bus::errorText(r));
  mainLoop->addSource(platform::bus::newBusSource(bus.get(), nullptr));
  if (signals >= 0) mainLoop->addSource(std::make_shared<SignalSource>(signals));
  if (!options.maildir.empty()) {
    const std::string account = options.accounts.front();
    auto watch = MaildirWatcher::watch(
        options.maildir,
        [account, later, report](const std::string& file) {
          auto stored = store.storeFile(account, "INBOX", file);
          if (!stored.value) {
            report({{"event", "mailRefused"}, {"path", file}, {"error", stored.error}});
            return;
          }
          MailControlInterface::arrive(store, later, *stored.value);
        },
        &error);
    if (!watch) return fail("cannot watch the maildir: " + error);
    mainLoop->addSource(watch);
  }
  report({{"event", "ready"}, {"pid", getpid()}});

  mainLoop->run();
  std::fflush(nullptr);
  // Tweaks own never-destroyed singletons that may still run; leave without
  // running destructors under them.
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
