// pelorinctl push and alerts: the home-screen host's control interface on the
// session bus of the environment. push delivers a push whose alert is the
// given text; alerts lists the alerts the home screen showed.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "platform/linux/bus_connection.h"
#include "tools/pelorinctl/commands.h"

namespace pelorin::ctl::push_detail {

constexpr char kService[] = "com.talvern.sim.SpringBoard";
constexpr char kObject[] = "/com/talvern/sim/SpringBoard";
// The official Google Voice application's push topic.
constexpr char kGVTopic[] = "com.google.GVDialer";

struct PushOptions {
  std::string topic = kGVTopic;
  std::string text;
};

struct AlertsOptions {
  bool json = false;
};

struct ErrorFree {
  void operator()(sd_bus_error* error) const { sd_bus_error_free(error); }
};

int failWith(const std::string& why) {
  std::fprintf(stderr, "pelorinctl: %s\n", why.c_str());
  return 1;
}

// One page of the home screen's alerts (its JSON object), starting at
// `offset`; or nothing with the reason in `why`.
std::optional<nlohmann::json> alertPage(sd_bus* bus, std::uint32_t offset, std::string& why) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  std::unique_ptr<sd_bus_error, ErrorFree> errorGuard(&error);
  sd_bus_message* reply = nullptr;
  int r = sd_bus_call_method(bus, kService, kObject, kService, "ListAlerts", &error, &reply, "uu",
                             offset, 0u);
  platform::bus::MessagePtr replyGuard(reply);
  if (r < 0) {
    why = error.message ? error.message : platform::bus::errorText(r);
    return std::nullopt;
  }
  const char* text = nullptr;
  auto page = nlohmann::json::object();
  if (sd_bus_message_read_basic(reply, 's', &text) >= 0 && text != nullptr) {
    page = nlohmann::json::parse(text, nullptr, false);
  }
  if (!page.is_object() || !page.value("items", nlohmann::json()).is_array()) {
    why = "unexpected reply from the home screen";
    return std::nullopt;
  }
  return page;
}

// Every alert the home screen keeps, oldest first, read page by page.
std::optional<nlohmann::json> allAlerts(sd_bus* bus, std::string& why) {
  auto alerts = nlohmann::json::array();
  for (bool more = true; more;) {
    auto page = alertPage(bus, static_cast<std::uint32_t>(alerts.size()), why);
    if (!page) return std::nullopt;
    for (auto& alert : (*page)["items"]) alerts.push_back(std::move(alert));
    more = page->value("more", false) && !(*page)["items"].empty();
  }
  return alerts;
}

platform::bus::BusPtr openSessionBus(std::string& why) {
  auto bus = platform::bus::openBus(std::nullopt, &why);
  if (!bus) why = "no session bus reachable: " + why;
  return bus;
}

int push(const PushOptions& options) {
  std::string why;
  auto bus = openSessionBus(why);
  if (!bus) return failWith(why);
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
  if (r < 0) {
    return failWith(std::string("the home screen did not take the push: ") +
                    (error.message ? error.message : platform::bus::errorText(r)));
  }
  int shown = 0;
  if (sd_bus_message_read_basic(reply, 'b', &shown) < 0) {
    return failWith("unexpected reply from the home screen");
  }
  std::printf("%s\n", shown ? "shown" : "forwarded");
  return 0;
}

int alerts(const AlertsOptions& options) {
  std::string why;
  auto bus = openSessionBus(why);
  if (!bus) return failWith(why);
  const auto list = allAlerts(bus.get(), why);
  if (!list) return failWith("cannot list the alerts: " + why);
  if (options.json) {
    std::printf("%s\n",
                list->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return 0;
  }
  if (list->empty()) std::printf("no alerts\n");
  auto textOf = [](const nlohmann::json& value) {
    return value.is_string() ? value.get<std::string>() : std::string("(none)");
  };
  for (const auto& alert : *list) {
    std::printf("%s\n  %s\n", textOf(alert.value("title", nlohmann::json())).c_str(),
                textOf(alert.value("message", nlohmann::json())).c_str());
    std::string buttons;
    for (const auto& button : alert.value("buttons", nlohmann::json::array())) {
      buttons += "[" + textOf(button) + "] ";
    }
    if (!buttons.empty()) buttons.pop_back();
    std::printf("  %s\n", buttons.c_str());
  }
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

  auto alertsOptions = std::make_shared<AlertsOptions>();
  auto* alertsCommand = app.add_subcommand("alerts", "List the alerts the home screen showed");
  alertsCommand->add_flag("--json", alertsOptions->json, "Print the JSON array as it came");
  alertsCommand->callback([alertsOptions] { exitStatus() = alerts(*alertsOptions); });
}

}  // namespace pelorin::ctl
