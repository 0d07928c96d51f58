#include "outgoing/testing/quenlow_device.h"

#include <filesystem>

#include "platform/root_path.h"
#include "platform/tweak_loader.h"

namespace pelorin::testing {

using nlohmann::json;
using platform::testing::ChildProcess;

namespace {
constexpr char kHostName[] = "com.talvern.sim.MessagingDaemon";
}  // namespace

QuenlowDevice::QuenlowDevice(const std::vector<std::string>& options) {
  const std::string folder = platform::resolvePath(platform::kTweakFolder);
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!std::filesystem::copy_file(QUENLOW_SO, folder + "/Quenlow.so", error) ||
      !std::filesystem::copy_file(QUENLOW_PLIST, folder + "/Quenlow.plist", error)) {
    return;
  }
  std::vector<std::string> argv{DAEMON_HOST, "--json-events", "-"};
  argv.insert(argv.end(), options.begin(), options.end());
  host_ = std::make_unique<ChildProcess>(argv);
  const auto tweak = nextEvent([](const json& e) { return e["event"] == "tweak"; });
  started_ = tweak && (*tweak)["loaded"] == true &&
             nextEvent([](const json& e) { return e["event"] == "ready"; });
}

std::optional<json> QuenlowDevice::nextEvent(const std::function<bool(const json&)>& wanted) {
  if (!host_) return std::nullopt;
  while (auto line = host_->readLine(std::chrono::seconds(30))) {
    json event = json::parse(*line, nullptr, false);
    if (wanted(event)) return event;
  }
  return std::nullopt;
}

std::uint32_t QuenlowDevice::sendSMS(const std::vector<std::string>& recipients,
                                     const std::string& text) {
  std::vector<std::string> arguments{"assu", std::to_string(recipients.size())};
  arguments.insert(arguments.end(), recipients.begin(), recipients.end());
  arguments.push_back(text);
  arguments.push_back("1");
  std::string output;
  if (!call("SendSMS", arguments, &output)) return 0;
  return output.rfind("u ", 0) == 0 ? static_cast<std::uint32_t>(std::stoul(output.substr(2))) : 0;
}

bool QuenlowDevice::call(const std::string& method, const std::vector<std::string>& arguments,
                         std::string* reply) {
  std::vector<std::string> argv{
      "busctl", "--user", "call", kHostName, "/com/talvern/sim/MessagingDaemon", kHostName, method};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::string output;
  const bool called = platform::testing::runProgram(argv, &output) == 0;
  if (reply) *reply = output;
  return called;
}

}  // namespace pelorin::testing
