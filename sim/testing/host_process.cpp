#include "sim/testing/host_process.h"

#include <algorithm>

namespace pelorin::sim::testing {
namespace {

std::vector<std::string> withEvents(std::vector<std::string> argv) {
  argv.insert(argv.begin() + 1, {"--json-events", "-"});
  return argv;
}

std::vector<std::string> busctlCall(const std::string& busName, std::vector<std::string> options) {
  std::string path = "/" + busName;
  std::replace(path.begin(), path.end(), '.', '/');
  options.insert(options.end(), {"call", busName, path, busName});
  return options;
}

}  // namespace

std::string callHost(const std::string& busName, const std::string& method,
                     const std::vector<std::string>& arguments, bool* ok) {
  auto argv =
      busctlCall(busName, {"sh", "-c", "exec busctl --user --timeout=10 \"$@\" 2>&1", "sh"});
  argv.push_back(method);
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::string output;
  const auto status = platform::testing::runProgram(argv, &output);
  if (ok) *ok = status == 0;
  return output;
}

HostProcess::HostProcess(std::string busName, std::vector<std::string> argv)
    : busName_(std::move(busName)), process_(withEvents(std::move(argv))) {
  ready_ = next("ready").has_value();
}

std::optional<json> HostProcess::next(const std::function<bool(const json&)>& wanted) {
  while (auto line = process_.readLine(std::chrono::seconds(30))) {
    seen_.push_back(json::parse(*line, nullptr, false));
    if (wanted(seen_.back())) return seen_.back();
  }
  return std::nullopt;
}

std::optional<json> HostProcess::next(const std::string& event) {
  return next([&](const json& e) { return e.is_object() && e.value("event", "") == event; });
}

json HostProcess::message(const std::string& field, const json& value, const std::string& state) {
  const auto event = next([&](const json& e) {
    return e.contains("message") && e["message"][field] == value && e["message"]["state"] == state;
  });
  return event ? (*event)["message"] : json();
}

std::vector<json> HostProcess::seen(const std::string& event, const json& fields) const {
  std::vector<json> found;
  for (const auto& e : seen_) {
    bool matches = e.is_object() && e.value("event", "") == event;
    for (const auto& [key, value] : fields.items())
      matches = matches && e.value(key, json()) == value;
    if (matches) found.push_back(e);
  }
  return found;
}

void HostProcess::readUntilQuiet(std::chrono::milliseconds quiet) {
  while (auto line = process_.readLine(quiet)) seen_.push_back(json::parse(*line, nullptr, false));
}

json HostProcess::page(const std::string& method, std::uint32_t offset, std::uint32_t limit) const {
  auto argv = busctlCall(busName_, {"busctl", "--user", "--json=short"});
  argv.insert(argv.end(), {method, "uu", std::to_string(offset), std::to_string(limit)});
  std::string output;
  if (platform::testing::runProgram(argv, &output) != 0) return nullptr;
  const json reply = json::parse(output, nullptr, false);
  return json::parse(reply.value("data", json::array({""}))[0].get<std::string>(), nullptr, false);
}

}  // namespace pelorin::sim::testing
