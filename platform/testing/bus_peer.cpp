// A second process for the bus tests and benchmarks: it watches or
// echoes system-wide notifications and serves or sends messaging-centre
// messages through the platform's own transports, and reports on standard
// output, one line at a time ("ready" once it listens).
//
//   bus_peer watch NAME...          prints each name observed
//   bus_peer echo FROM TO           posts TO for every FROM
//   bus_peer serve CENTER MESSAGE   prints "MESSAGE KEY=VALUE..." per message
//   bus_peer send CENTER MESSAGE [KEY=TEXT]...   prints "sent" or "failed"
#include <cstdio>
#include <string>
#include <vector>

#include "platform/run_loop.h"
#include "platform/session_bus.h"

namespace {

using namespace pelorin::platform;

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

[[noreturn]] void serveForever() {
  for (;;) RunLoop::current()->run();
}

int watch(const std::vector<std::string>& names, const std::string& echo) {
  auto center = newBusDarwinNotifyCenter();
  auto* raw = center.get();
  for (const auto& name : names) {
    center->addObserver(name, [raw, echo](const std::string& observed) {
      if (echo.empty()) {
        say(observed);
      } else {
        raw->postNotification(echo);
      }
    });
  }
  say("ready");
  serveForever();
}

int serve(const std::string& centerName, const std::string& messageName) {
  auto center = newBusMessagingCenters()->centerNamed(centerName);
  center->registerForMessageName(messageName, [](const std::string& name, const Dictionary& info) {
    std::string line = name;
    for (const auto& [key, value] : info) line += " " + key + "=" + value.description();
    say(line);
  });
  if (!center->runServerOnCurrentThread()) return 1;
  say("ready");
  serveForever();
}

int send(const std::string& centerName, const std::string& messageName,
         const std::vector<std::string>& pairs) {
  Dictionary info;
  for (const auto& pair : pairs) {
    const auto equals = pair.find('=');
    if (equals == std::string::npos) return 2;
    info[pair.substr(0, equals)] = pair.substr(equals + 1);
  }
  const bool sent =
      newBusMessagingCenters()->centerNamed(centerName)->sendMessageName(messageName, info);
  say(sent ? "sent" : "failed");
  return sent ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 2 && args[0] == "watch") return watch({args.begin() + 1, args.end()}, "");
  if (args.size() == 3 && args[0] == "echo") return watch({args[1]}, args[2]);
  if (args.size() == 3 && args[0] == "serve") return serve(args[1], args[2]);
  if (args.size() >= 3 && args[0] == "send")
    return send(args[1], args[2], {args.begin() + 3, args.end()});
  std::fprintf(stderr, "usage: bus_peer watch|echo|serve|send ...\n");
  return 2;
}
