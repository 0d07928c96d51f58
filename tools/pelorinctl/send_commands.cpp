// pelorinctl send: texts from the device by hand, through the Messages host,
// as a person typing in the Messages application would.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/bus_connection.h"
#include "tools/pelorinctl/commands.h"
#include "tools/pelorinctl/device_bus.h"

namespace pelorin::ctl::send_detail {

constexpr char kMessagesHost[] = "com.talvern.sim.Messages";
constexpr char kMessagesPath[] = "/com/talvern/sim/Messages";
// Long enough for the daemon host's answer; the send itself goes on after it.
constexpr std::uint64_t kSendTimeoutMicroseconds = 30'000'000;

struct SendOptions {
  bool iMessage = false;
  bool onService = false;
  std::vector<std::string> attachments;
  std::vector<std::string> recipients;
  std::string text;
};

int appendStrings(sd_bus_message* message, const std::vector<std::string>& strings) {
  int r = sd_bus_message_open_container(message, 'a', "s");
  for (std::size_t i = 0; r >= 0 && i < strings.size(); ++i) {
    r = sd_bus_message_append_basic(message, 's', strings[i].c_str());
  }
  return r < 0 ? r : sd_bus_message_close_container(message);
}

// Calls the Messages host's Send; 0 when the conversation's send returned
// true, 1 when it returned false or the host could not be reached.
int sendText(const SendOptions& options) {
  auto bus = openDeviceBus();
  if (!bus) return 1;
  std::vector<std::string> attachments;
  for (const auto& file : options.attachments) {
    attachments.push_back(std::filesystem::absolute(file).string());
  }
  sd_bus_message* call = nullptr;
  int r = sd_bus_message_new_method_call(bus.get(), &call, kMessagesHost, kMessagesPath,
                                         kMessagesHost, "Send");
  platform::bus::MessagePtr callOwner(call);
  const char* service = options.iMessage ? "iMessage" : "SMS";
  if (r >= 0) r = sd_bus_message_append_basic(call, 's', service);
  if (r >= 0) r = appendStrings(call, options.recipients);
  if (r >= 0) r = sd_bus_message_append_basic(call, 's', options.text.c_str());
  if (r >= 0) r = appendStrings(call, attachments);
  const int onService = options.onService ? 1 : 0;
  if (r >= 0) r = sd_bus_message_append_basic(call, 'b', &onService);
  if (r < 0) {
    // The bus takes only UTF-8 texts.
    std::fprintf(stderr, "pelorinctl: cannot send that: %s\n", platform::bus::errorText(r).c_str());
    return 1;
  }
  sd_bus_error busError = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  r = sd_bus_call(bus.get(), call, kSendTimeoutMicroseconds, &busError, &reply);
  platform::bus::MessagePtr replyOwner(reply);
  int result = 0;
  if (r < 0 || sd_bus_message_read_basic(reply, 'b', &result) < 0) {
    std::fprintf(stderr, "pelorinctl: not sent: %s\n",
                 hostCallFailure(kMessagesAppHost, r, busError).c_str());
    sd_bus_error_free(&busError);
    return 1;
  }
  std::printf("%s\n", result ? "sent" : "not sent");
  return result ? 0 : 1;
}

}  // namespace pelorin::ctl::send_detail

namespace pelorin::ctl {

void addSendCommands(CLI::App& app) {
  using namespace send_detail;
  auto options = std::make_shared<SendOptions>();
  auto* send = app.add_subcommand(
      "send",
      "Send a text through the Messages host (prints \"sent\", or \"not sent\" and exits 1)");
  send->add_flag("--imessage", options->iMessage, "Send as iMessage instead of SMS");
  send->add_flag("--on-service", options->onService,
                 "Send through sendMessage:onService:newComposition:");
  send->add_option("--attach", options->attachments, "Attach FILE (repeatable)")
      ->check(CLI::ExistingFile);
  send->add_option("--to", options->recipients, "Recipient NUMBER or address (repeatable)")
      ->required();
  send->add_option("text", options->text, "The text")->required();
  send->callback([options] { exitStatus() = sendText(*options); });
}

}  // namespace pelorin::ctl
