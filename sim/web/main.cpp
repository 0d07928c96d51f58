// pelorin-web: a live view of a simulated device in a browser. It serves a
// static page on 127.0.0.1 behind a random token, reads and drives the device
// only through the hosts' control interfaces and the command-line tools, and
// streams the hosts' events to every open page. It runs until SIGTERM or
// SIGINT, or until the device's bus goes away.
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

#include "platform/files.h"
#include "sim/web/alert_dismissals.h"
#include "sim/web/device_api.h"
#include "sim/web/device_link.h"
#include "sim/web/event_feed.h"
#include "sim/web/request_guard.h"
#include "sim/web/tool_runner.h"
#include "sim/web/web_server.h"

namespace {

using namespace pelorin::sim::web;
namespace fs = std::filesystem;

constexpr char kDemoMailAccount[] = "pelorin.demo@gmail.com";

struct Options {
  std::string root;
  int port = 0;
  std::string pageDir;
  std::string mailAccount;
};

int fail(const std::string& why) {
  std::cerr << "pelorin-web: " << why << "\n";
  return 1;
}

// This program's own folder, links resolved.
fs::path programFolder() {
  std::error_code error;
  return fs::canonical("/proc/self/exe", error).parent_path();
}

// The device's bus: the address `pelorin-sim up` wrote, else the session bus
// of the environment.
std::optional<std::string> busAddress(const std::string& stateDir) {
  if (const auto file = pelorin::platform::readWholeFile(stateDir + "/bus.address")) {
    const std::string line = file->substr(0, file->find('\n'));
    if (!line.empty()) return line;
  }
  if (const char* session = std::getenv("DBUS_SESSION_BUS_ADDRESS"); session && *session) {
    return std::string(session);
  }
  return std::nullopt;
}

// Waits for a stop signal or the device going down (`down` readable).
void waitForEnd(const sigset_t& stopSignals, int down) {
  const int signals = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  pollfd fds[2] = {{signals, POLLIN, 0}, {down, POLLIN, 0}};
  while (poll(fds, 2, -1) < 0 && errno == EINTR) {
  }
  if (fds[1].revents) std::cerr << "pelorin-web: the device went down\n";
  close(signals);
}

int serve(const Options& options) {
  std::error_code error;
  const std::string root = fs::absolute(options.root, error).lexically_normal().string();
  const std::string stateDir = root + "/var/run/pelorin-sim";
  const auto address = busAddress(stateDir);
  if (!address) return fail("no device is up in " + root + " and no session bus is named");
  setenv("PELORIN_ROOT", root.c_str(), 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", address->c_str(), 1);

  std::string why;
  auto page = WebServer::loadPage(options.pageDir, why);
  if (!page) return fail(why);
  const auto token = RequestGuard::newToken();
  if (!token) return fail("cannot make a random token");

  DeviceLink link;
  if (!link.open(*address, why)) return fail("cannot reach the device's bus: " + why);
  const int down = eventfd(0, EFD_CLOEXEC);
  EventFeed feed([down] {
    const std::uint64_t one = 1;
    // An eventfd write fails only when its counter would overflow: the main
    // thread is then already awake.
    [[maybe_unused]] const auto written = write(down, &one, sizeof one);
  });
  if (!feed.start(*address, why)) return fail(why);

  const ToolRunner tools((programFolder() / "../../bin").lexically_normal().string(),
                         std::chrono::seconds(20));
  AlertDismissals dismissals(stateDir + "/web-dismissals.jsonl", *address);
  DeviceApi api({stateDir, options.mailAccount}, link, tools, dismissals);
  WebServer server(std::move(*page), feed, api);
  const int port = server.bind(options.port);
  if (port < 0) return fail("cannot listen on 127.0.0.1:" + std::to_string(options.port));
  server.install(*token);
  std::thread listener([&server] { server.run(); });
  std::cout << "http://127.0.0.1:" << port << "/?token=" << *token << std::endl;

  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  waitForEnd(stopSignals, down);
  feed.stop();
  server.stop();
  listener.join();
  close(down);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread starts: the stop signals are taken by signalfd, and a
  // browser that hangs up never kills the server.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Options options;
  const char* account = std::getenv("PELORIN_SIM_MAIL_ACCOUNT");
  options.mailAccount = account && *account ? account : kDemoMailAccount;
  options.pageDir = (programFolder() / "../../share/pelorin/web").lexically_normal().string();
  CLI::App app("pelorin-web: a live view of a simulated device in a browser, on 127.0.0.1",
               "pelorin-web");
  app.add_option("--root", options.root, "the device's root folder")->required();
  app.add_option("--port", options.port, "the port to listen on (0: a free one)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--page-dir", options.pageDir, "the page's files")->capture_default_str();
  app.add_option("--mail-account", options.mailAccount, "the Mail account a dropped mail goes to")
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);
  try {
    return serve(options);
  } catch (const std::exception& e) {
    return fail(std::string("stopped: ") + e.what());
  }
}
