#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/chatkit/ck_conversation.h"
#include "sim/messages/daemon_link.h"
#include "sim/messaging_daemon/daemon_events.h"

namespace pelorin::sim {

// A conversation of the simulated Messages application. Its own sends (what
// runs when no tweak stands in front, or what a tweak calls on to) pass the
// message to the messaging daemon host as a chat message of the service, in
// the chat of the conversation's recipients, and answer whether the daemon
// took it. Each is reported as {"event": "daemonSend", ...}. Thread-safe.
class SimConversation final : public platform::CKConversation {
 public:
  SimConversation(std::vector<std::string> recipients, DaemonLink& daemon, EventReporter reporter);

  std::vector<std::string> recipients() const override { return recipients_; }
  // The chat's identifier at the daemon: the recipient for a conversation
  // with one, else a group identifier made of all of them.
  const std::string& chatIdentifier() const { return chatIdentifier_; }

 protected:
  bool platformSendMessage(const std::shared_ptr<platform::CKMessage>& message,
                           bool newComposition) override;
  bool platformSendMessageOnService(const std::shared_ptr<platform::CKMessage>& message,
                                    const std::shared_ptr<platform::CKService>& service,
                                    bool newComposition) override;

 private:
  bool handToDaemon(const std::string& service,
                    const std::shared_ptr<platform::CKMessage>& message);

  const std::vector<std::string> recipients_;
  const std::string chatIdentifier_;
  DaemonLink& daemon_;
  const EventReporter reporter_;
};

}  // namespace pelorin::sim
