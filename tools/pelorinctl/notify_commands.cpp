// pelorinctl notify: posts and watches system-wide notifications on the
// session bus of the environment, like the phone's notify utility.
#include <CLI/CLI.hpp>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/session_bus.h"
#include "tools/pelorinctl/commands.h"
#include "tools/pelorinctl/device_bus.h"

namespace pelorin::ctl::notify_detail {

struct NotifyOptions {
  std::vector<std::string> names;
  int count = 0;       // 0: until the time-out (or forever)
  double timeout = 0;  // seconds; 0: none
};

int postNames(const std::vector<std::string>& names) {
  if (!deviceBusReachable()) return 1;
  auto center = platform::newBusDarwinNotifyCenter();
  std::string posted;
  for (const auto& name : names) {
    center->postNotification(name);
    posted += " " + name;
  }
  std::printf("Posted%s\n", posted.c_str());
  return 0;
}

// Prints each observed name as it arrives; 0 after `count` of them, 1 on time-out.
int watchNames(const NotifyOptions& options) {
  if (!deviceBusReachable()) return 1;
  std::mutex mutex;
  std::condition_variable arrived;
  int seen = 0;  // guarded by mutex
  auto center = platform::newBusDarwinNotifyCenter();
  for (const auto& name : options.names) {
    center->addObserver(name, [&](const std::string& observed) {
      std::lock_guard lock(mutex);
      std::printf("%s\n", observed.c_str());
      std::fflush(stdout);
      ++seen;
      arrived.notify_all();
    });
  }
  std::fprintf(stderr, "pelorinctl: watching %zu name(s)\n", options.names.size());
  std::unique_lock lock(mutex);
  auto done = [&] { return options.count > 0 && seen >= options.count; };
  if (options.timeout <= 0) {
    arrived.wait(lock, done);
    return 0;
  }
  const auto limit = std::chrono::duration<double>(options.timeout);
  return arrived.wait_for(lock, limit, done) ? 0 : 1;
}

}  // namespace pelorin::ctl::notify_detail

namespace pelorin::ctl {

void addNotifyCommands(CLI::App& app) {
  using namespace notify_detail;
  auto* notify = app.add_subcommand("notify", "Post or watch system-wide notifications");
  notify->require_subcommand(1);

  auto postOptions = std::make_shared<NotifyOptions>();
  auto* post = notify->add_subcommand("post", "Post each NAME on the session bus");
  post->add_option("names", postOptions->names, "Notification names")->required();
  post->callback([postOptions] { exitStatus() = postNames(postOptions->names); });

  auto watchOptions = std::make_shared<NotifyOptions>();
  auto* watch = notify->add_subcommand(
      "watch", "Print each NAME observed; exit 0 after --count of them, 1 on --timeout");
  watch->add_option("--count", watchOptions->count, "Exit after this many notifications")
      ->check(CLI::PositiveNumber);
  watch->add_option("--timeout", watchOptions->timeout, "Give up after this many seconds")
      ->check(CLI::PositiveNumber);
  watch->add_option("names", watchOptions->names, "Notification names")->required();
  watch->callback([watchOptions] { exitStatus() = watchNames(*watchOptions); });
}

}  // namespace pelorin::ctl
