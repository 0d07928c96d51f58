#include "sim/messaging_daemon/sim_chat.h"

namespace pelorin::sim {

SimChat::SimChat(Text chatIdentifier, std::uint8_t style, Text serviceName,
                 std::vector<std::shared_ptr<platform::IMDHandle>> participants,
                 std::weak_ptr<platform::IMDServiceSession> session)
    : chatIdentifier_(std::move(chatIdentifier)),
      style_(style),
      serviceName_(std::move(serviceName)),
      participants_(std::move(participants)),
      // The phone names chats "<service>;<style>;<identifier>".
      guid_(serviceName_.value_or("") + ";" + static_cast<char>(style_) + ";" +
            chatIdentifier_.value_or("")),
      session_(std::move(session)) {}

platform::Dictionary SimChat::chatProperties() const {
  platform::Array ids;
  for (const auto& participant : participants_) ids.emplace_back(participant->ID().value_or(""));
  return {{"chatIdentifier", chatIdentifier_.value_or("")},
          {"guid", guid_.value_or("")},
          {"serviceName", serviceName_.value_or("")},
          {"style", static_cast<int>(style_)},
          {"participants", std::move(ids)}};
}

}  // namespace pelorin::sim
