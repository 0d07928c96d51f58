// pelorinctl push: delivers a push whose alert is the given text to the
// home-screen host of the device on the session bus of the environment.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "platform/linux/bus_connection.h"
#include "tools/pelorinctl/commands.h"
#include "tools/pelorinctl/device_bus.h"

namespace pelorin::ctl::push_detail {

constexpr char kService[] = "com.talvern.sim.SpringBoard";
constexpr char kObject[] = "/com/talvern/sim/SpringBoard";
// The official Google Voice application's push topic.
constexpr char kGVTopic[] = "com.google.GVDialer";

struct PushOptions {
  std::string topic = kGVTopic;
  std::string text;
};

struct ErrorFree {
  void operator()(sd_bus_error* error) const { sd_bus_error_free(error); }
};

int failWith(const std::string& why) {
  std::fprintf(stderr, "pelorinctl: %s\n", why.c_str());
  return 1;
}

int push(const PushOptions& options) {
  auto bus = openDeviceBus();
  if (!bus) return 1;
  sd_bus_message* call = nullptr;
  int r =
      sd_bus_message_new_method_call(bus.get(), &call, kService, kObject, kService, "DeliverPush");
  platform::bus::MessagePtr callGuard(call);
  if (r >= 0) r = sd_bus_message_append(call, "s", options.topic.c_str());
  const platform::Dictionary userInfo{
      {"aps", platform::Dictionary{{"alert", options.text}, {"sound", "default"}}}};
  if (r >= 0) r = platform::bus::appendDictionary(call, userInfo);
  if (r < 0) return failWith("cannot build the push: " + platform::bus::errorText(r));

  sd_bus_error error = SD_BUS_ERROR_NULL;
  std::unique_ptr<sd_bus_error, ErrorFree> errorGuard(&error);
  sd_bus_message* reply = nullptr;
  r = sd_bus_call(bus.get(), call, 0, &error, &reply);
  platform::bus::MessagePtr replyGuard(reply);
  if (r < 0) return failWith(hostCallFailure(kHomeScreenHost, r, error));
  int shown = 0;
  if (sd_bus_message_read_basic(reply, 'b', &shown) < 0) {
    return failWith("unexpected reply from the home screen");
  }
  std::printf("%s\n", shown ? "shown" : "forwarded");
  return 0;
}

}  // namespace pelorin::ctl::push_detail

namespace pelorin::ctl {

void addPushCommands(CLI::App& app) {
  using namespace push_detail;
  auto pushOptions = std::make_shared<PushOptions>();
  auto* pushCommand = app.add_subcommand(
      "push", "Deliver a push whose alert is TEXT to the home screen; prints shown or forwarded");
  pushCommand->add_option("--topic", pushOptions->topic,
                          "The application the push is meant for (com.google.GVDialer)");
  pushCommand->add_option("text", pushOptions->text, "The alert text")->required();
  pushCommand->callback([pushOptions] { exitStatus() = push(*pushOptions); });
}

}  // namespace pelorin::ctl
