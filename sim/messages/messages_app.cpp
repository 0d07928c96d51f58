#include "sim/messages/messages_app.h"

#include "platform/device_model.h"
#include "sim/messaging_daemon/daemon_events.h"

namespace pelorin::sim {
namespace {

std::map<std::string, std::shared_ptr<platform::CKService>> makeServices() {
  auto service = [](const std::string& name, bool carrier) {
    return std::make_shared<platform::CKService>(name,
                                                 platform::Dictionary{{"name", name},
                                                                      {"supportsAttachments", true},
                                                                      {"supportsGroupChats", true},
                                                                      {"usesCarrier", carrier}});
  };
  return {{"SMS", service("SMS", true)}, {"iMessage", service("iMessage", false)}};
}

}  // namespace

MessagesApp::MessagesApp(MessagesOptions options, EventReporter reporter)
    : options_(std::move(options)),
      reporter_(std::move(reporter)),
      daemon_(options_.daemonBusName),
      services_(makeServices()) {}

MessagesApp::~MessagesApp() {
  platform::setAlertPresenter(nullptr);
}

void MessagesApp::start() {
  platform::CKConversation::registerWithRuntime([this](std::string_view selector) {
    return options_.withoutMethods.count(std::string(selector)) == 0;
  });
  platform::setDeviceModel(options_.model);
  platform::setAlertPresenter(this);
}

void MessagesApp::present(const platform::Alert& alert) {
  nlohmann::json shown{{"title", textJson(alert.title)},
                       {"message", textJson(alert.message)},
                       {"buttons", alert.buttons}};
  alerts_.add(shown);
  shown["event"] = "alert";
  if (reporter_) reporter_(shown);
}

std::optional<std::string> MessagesApp::refusal(const std::string& service,
                                                const std::vector<std::string>& recipients) const {
  if (services_.count(service) == 0) return "no service " + service + " (SMS or iMessage)";
  if (recipients.empty()) return "a message needs recipients";
  for (const auto& recipient : recipients) {
    if (recipient.empty()) return "a recipient is empty";
  }
  return std::nullopt;
}

bool MessagesApp::send(const std::string& service, const std::vector<std::string>& recipients,
                       const std::string& text, const std::vector<std::string>& attachments,
                       bool onService) {
  bool result = false;
  if (!refusal(service, recipients)) {
    bool isNew = false;
    auto conversation = conversationWith(recipients, isNew);
    auto message = std::make_shared<platform::CKMessage>(platform::CKMessage::Fields{
        .service = service, .recipients = recipients, .text = text, .attachments = attachments});
    // The first message of a conversation is a new composition.
    result = onService ? conversation->sendMessage(message, services_.at(service), isNew)
                       : conversation->sendMessage(message, isNew);
  }
  if (reporter_) {
    reporter_({{"event", "send"},
               {"service", service},
               {"recipients", recipients},
               {"text", text},
               {"attachments", attachments},
               {"onService", onService},
               {"result", result}});
  }
  return result;
}

std::shared_ptr<SimConversation> MessagesApp::conversationWith(
    const std::vector<std::string>& recipients, bool& isNew) {
  std::lock_guard lock(mutex_);
  auto& conversation = conversations_[recipients];
  isNew = !conversation;
  if (isNew) conversation = std::make_shared<SimConversation>(recipients, daemon_, reporter_);
  return conversation;
}

}  // namespace pelorin::sim
