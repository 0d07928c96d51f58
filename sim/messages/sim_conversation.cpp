#include "sim/messages/sim_conversation.h"

namespace pelorin::sim {
namespace {

std::string chatIdentifierFor(const std::vector<std::string>& recipients) {
  if (recipients.size() == 1) return recipients.front();
  std::string identifier = "chat";
  for (const auto& recipient : recipients) identifier += ";" + recipient;
  return identifier;
}

}  // namespace

SimConversation::SimConversation(std::vector<std::string> recipients, DaemonLink& daemon,
                                 EventReporter reporter)
    : recipients_(std::move(recipients)),
      chatIdentifier_(chatIdentifierFor(recipients_)),
      daemon_(daemon),
      reporter_(std::move(reporter)) {}

bool SimConversation::platformSendMessage(const std::shared_ptr<platform::CKMessage>& message,
                                          bool) {
  return message && handToDaemon(message->service(), message);
}

bool SimConversation::platformSendMessageOnService(
    const std::shared_ptr<platform::CKMessage>& message,
    const std::shared_ptr<platform::CKService>& service, bool) {
  if (!message) return false;
  return handToDaemon(service ? service->name() : message->service(), message);
}

bool SimConversation::handToDaemon(const std::string& service,
                                   const std::shared_ptr<platform::CKMessage>& message) {
  const auto result = daemon_.sendChatMessage(service, chatIdentifier_, recipients_,
                                              message->text(), message->attachments());
  if (reporter_) {
    reporter_({{"event", "daemonSend"},
               {"service", service},
               {"chatIdentifier", chatIdentifier_},
               {"recipients", recipients_},
               {"text", message->text()},
               {"attachments", message->attachments()},
               {"sent", result.sent},
               {"guid", result.sent ? nlohmann::json(result.guid) : nlohmann::json()},
               {"error", result.sent ? nlohmann::json() : nlohmann::json(result.error)}});
  }
  return result.sent;
}

}  // namespace pelorin::sim
