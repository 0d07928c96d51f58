#include "platform/testing/tweak_host.h"

#include <filesystem>

#include "platform/testing/temporary_root.h"
#include "platform/tweak_loader.h"

namespace pelorin::platform::testing {

using nlohmann::json;

namespace {

std::vector<std::string> withEvents(std::vector<std::string> argv) {
  argv.insert(argv.end(), {"--json-events", "-"});
  return argv;
}

}  // namespace

TweakHost::TweakHost(std::vector<std::string> argv, const std::string& tweak)
    : process_(withEvents(std::move(argv))) {
  const auto loaded =
      nextEvent([&](const json& e) { return e["event"] == "tweak" && e["name"] == tweak; });
  ready_ = loaded && (*loaded)["loaded"] == true &&
           nextEvent([](const json& e) { return e["event"] == "ready"; });
}

std::optional<json> TweakHost::nextEvent(const std::function<bool(const json&)>& wanted) {
  while (auto line = process_.readLine(std::chrono::seconds(20))) {
    json event = json::parse(*line, nullptr, false);
    if (event.is_object() && wanted(event)) return event;
  }
  return std::nullopt;
}

void TweakHost::install(const TemporaryRoot& root, const std::vector<std::string>& files) {
  const std::filesystem::path folder = root.path(std::string(kTweakFolder));
  std::filesystem::create_directories(folder);
  for (const std::filesystem::path file : files) {
    std::filesystem::copy_file(file, folder / file.filename());
  }
}

}  // namespace pelorin::platform::testing
