// pelorinctl messages and alerts: what the device's hosts recorded, read
// through their listings on the device's bus, as a person reads it.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "tools/pelorinctl/commands.h"
#include "tools/pelorinctl/device_bus.h"
#include "tools/pelorinctl/message_route.h"
#include "tools/pelorinctl/text_table.h"

namespace pelorin::ctl::listing_detail {

struct Options {
  bool json = false;
};

// One listing of one host: where it comes from and what kind of item it holds.
struct Listing {
  const DeviceHost* host;
  const char* method;
  const char* kind;  // "alert" or "banner"
};

const Listing kAlertListings[] = {
    {&kHomeScreenHost, "ListAlerts", "alert"},
    {&kHomeScreenHost, "ListBanners", "banner"},
    {&kMessagesAppHost, "ListAlerts", "alert"},
};

std::string textOf(const nlohmann::json& value) {
  return value.is_string() ? value.get<std::string>() : std::string("(none)");
}

int failWith(const std::string& why) {
  std::fprintf(stderr, "pelorinctl: %s\n", why.c_str());
  return 1;
}

std::string joined(const nlohmann::json& texts, const char* separator) {
  std::string result;
  if (!texts.is_array()) return result;
  for (const auto& text : texts) result += (result.empty() ? "" : separator) + textOf(text);
  return result;
}

const char* routeWords(const nlohmann::json& route) {
  if (!route.is_string()) return "-";
  const std::string name = route.get<std::string>();
  if (name == "carrier") return "carrier";
  if (name == "carrier-to-access-number") return "carrier, access number";
  if (name == "google-voice") return "Google Voice";
  return "iMessage";
}

int messages(const Options& options) {
  auto bus = openDeviceBus();
  if (!bus) return 1;
  std::string why;
  auto items = readListing(bus.get(), kMessagingDaemonHost, "ListMessages", why);
  if (!items) return failWith("cannot list the messages: " + why);
  TextTable table({"#", "", "WITH", "ROUTE", "STATE", "TEXT"});
  for (auto& message : *items) {
    message["route"] = routeTaken(message);
    if (options.json) {
      std::cout << message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
      continue;
    }
    const bool outgoing = message.value("direction", "") == "outgoing";
    table.addRow({message.contains("serial") ? message["serial"].dump() : "",
                  outgoing ? "to" : "from",
                  outgoing ? joined(message["recipients"], ", ") : textOf(message["sender"]),
                  routeWords(message["route"]), textOf(message["state"]), textOf(message["text"])});
  }
  if (options.json) return 0;
  if (items->empty()) {
    std::cout << "No messages.\n";
  } else {
    table.print(std::cout);
  }
  return 0;
}

int alerts(const Options& options) {
  auto bus = openDeviceBus();
  if (!bus) return 1;
  int status = 0;
  std::size_t shown = 0;
  for (const auto& listing : kAlertListings) {
    if (!hostRunning(bus.get(), *listing.host)) continue;  // left out of this device
    std::string why;
    auto items = readListing(bus.get(), *listing.host, listing.method, why);
    if (!items) {
      status = failWith("cannot list what " + std::string(listing.host->title) + " showed: " + why);
      continue;
    }
    for (auto& item : *items) {
      ++shown;
      if (options.json) {
        nlohmann::ordered_json line{{"host", listing.host->simName}, {"kind", listing.kind}};
        for (auto& [key, value] : item.items()) line[key] = value;
        std::cout << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
      } else if (std::string(listing.kind) == "banner") {
        std::cout << "Banner on " << listing.host->title << " (" << textOf(item["topic"]) << ")\n  "
                  << textOf(item["alert"]) << "\n";
      } else {
        std::cout << "Alert on " << listing.host->title << ": " << textOf(item["title"]) << "\n  "
                  << textOf(item["message"]) << "\n  [" << joined(item["buttons"], "] [") << "]\n";
      }
    }
  }
  if (!options.json && shown == 0 && status == 0) std::cout << "No alerts or banners.\n";
  return status;
}

}  // namespace pelorin::ctl::listing_detail

namespace pelorin::ctl {

void addListingCommands(CLI::App& app) {
  using namespace listing_detail;
  auto messageOptions = std::make_shared<Options>();
  auto* messagesCommand = app.add_subcommand(
      "messages",
      "List the daemon's message store: each text with the route it took and its state");
  messagesCommand->add_flag("--json", messageOptions->json,
                            "One JSON object per text, the stored element with its \"route\"");
  messagesCommand->callback([messageOptions] { exitStatus() = messages(*messageOptions); });

  auto alertOptions = std::make_shared<Options>();
  auto* alertsCommand = app.add_subcommand(
      "alerts",
      "List the alerts and banners that the home screen and the Messages application "
      "showed (hosts not running are left out)");
  alertsCommand->add_flag("--json", alertOptions->json,
                          "One JSON object per alert or banner, with its \"host\" and \"kind\"");
  alertsCommand->callback([alertOptions] { exitStatus() = alerts(*alertOptions); });
}

}  // namespace pelorin::ctl
