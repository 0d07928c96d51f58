// pelorin-mail-host: the phone's Mail application, stood in as a process of
// its own. It owns the mail store with its accounts and mailboxes, loads the
// tweaks meant for it, and is fed mail through its control interface on the
// session bus or from a maildir that an ordinary mail fetcher fills.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "platform/notification_center.h"
#include "sim/mail/mail_control_interface.h"
#include "sim/mail/maildir_watcher.h"
#include "sim/mail/sim_mail_store.h"
#include "sim/messaging_daemon/host_runner.h"
#include "sim/messaging_daemon/reporting_notify_center.h"
#include "sim/messaging_daemon/task_queue.h"

namespace {

using namespace pelorin;
using namespace pelorin::sim;

struct HostOptions {
  HostIdentity identity{"com.apple.mobilemail", "MobileMail", "com.talvern.sim.Mail", ""};
  std::vector<std::string> accounts;
  std::string maildir;
  bool withoutBodyMethod = false;
};

std::variant<HostOptions, int> parseOptions(int argc, char** argv) {
  HostOptions options;
  CLI::App app("pelorin-mail-host: the phone's Mail application, stood in as a process",
               "pelorin-mail-host");
  std::vector<std::string> without;
  app.add_option("--account", options.accounts, "a mail account's e-mail address; repeatable");
  app.add_option("--maildir", options.maildir,
                 "deliver every file appearing in DIR/new to the first account's INBOX")
      ->needs("--account");
  app.add_option("--without-method", without,
                 "a replaceable method the host does not offer (its selector); repeatable");
  addHostOptions(app, options.identity);
  if (auto status = parseHostOptions(app, argc, argv)) return *status;
  for (const auto& selector : without) {
    if (selector == platform::MFMailMessageStore::kSetOrGetBodySelector) {
      options.withoutBodyMethod = true;
    }
  }
  return options;
}

HostRunner host("pelorin-mail-host");

int run(const HostOptions& options) {
  if (int r = host.start(options.identity, MailControlInterface::kInterface)) return r;
  const EventReporter& report = host.report();

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
  host.loadTweaks();
  MailControlInterface control(store, later);
  if (int r = host.serve(control.attach(host.bus(), host.objectPath()))) return r;
  if (!options.maildir.empty()) {
    std::string error;
    const std::string account = options.accounts.front();
    auto watch = MaildirWatcher::watch(
        options.maildir,
        [account, later, report](const std::string& file, const std::string& bytes) {
          auto stored = store.store(account, "INBOX", bytes);
          if (!stored.value) {
            report({{"event", "mailRefused"}, {"path", file}, {"error", stored.error}});
            return;
          }
          MailControlInterface::arrive(store, later, *stored.value);
        },
        [report](const std::string& file, const std::string& why, const std::string& keptAt) {
          std::fprintf(stderr, "pelorin-mail-host: maildir entry %s refused (%s), now at %s\n",
                       file.c_str(), why.c_str(), keptAt.c_str());
          report({{"event", "mailRefused"}, {"path", file}, {"error", why}, {"keptAt", keptAt}});
        },
        &error);
    if (!watch) return host.fail("cannot watch the maildir: " + error);
    host.mainLoop()->addSource(watch);
  }
  host.run({{"event", "ready"}, {"pid", getpid()}});
}

}  // namespace

int main(int argc, char** argv) {
  auto options = parseOptions(argc, argv);
  if (const int* status = std::get_if<int>(&options)) return *status;
  return runHost(host, [&] { return run(std::get<HostOptions>(options)); });
}
