#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/alerts.h"
#include "platform/chatkit/ck_service.h"
#include "sim/messages/daemon_link.h"
#include "sim/messages/sim_conversation.h"
#include "sim/messaging_daemon/recent_items.h"

namespace pelorin::sim {

struct MessagesOptions {
  std::string daemonBusName = "com.talvern.sim.MessagingDaemon";
  // Selectors of the replaceable sends the host does not offer (a platform
  // without them): calls run the platform's own code and tweaks find nothing.
  std::set<std::string> withoutMethods;
  // The device model the platform reports (a tweak's device checks read it).
  std::string model = "iPhone";
};

// The simulated Messages application: its services ("SMS" and "iMessage")
// and its conversations, one per set of recipients, whose sends reach the
// daemon host. Every function is thread-safe.
//
// Events: {"event": "send", ...} for every message composed and sent, with
// the conversation's result; the conversations report "daemonSend"; an
// alert a tweak shows is {"event": "alert", "title", "message", "buttons"},
// and the newest alerts are kept for the listing.
class MessagesApp : public platform::AlertPresenter {
 public:
  MessagesApp(MessagesOptions options, EventReporter reporter);
  ~MessagesApp() override;

  // Registers CKConversation with the object runtime and installs the
  // device model and this app as the alert presenter. Call once, before
  // loading tweaks.
  void start();

  // AlertPresenter: keeps and reports the alert; any thread, never blocks.
  void present(const platform::Alert& alert) override;
  // {"title", "message", "buttons"} of each alert shown.
  const RecentItems& alerts() const { return alerts_; }

  // Why a message with these arguments cannot be composed, or nothing.
  std::optional<std::string> refusal(const std::string& service,
                                     const std::vector<std::string>& recipients) const;

  // Composes the message in the conversation with `recipients` (made on
  // first use) and sends it through sendMessage:onService:newComposition:
  // with the service when `onService`, else sendMessage:newComposition:.
  // The result is what the conversation's send returned; false for a message
  // refusal() refuses.
  bool send(const std::string& service, const std::vector<std::string>& recipients,
            const std::string& text, const std::vector<std::string>& attachments, bool onService);

 private:
  // The conversation with `recipients`; `isNew` tells whether it was made now.
  std::shared_ptr<SimConversation> conversationWith(const std::vector<std::string>& recipients,
                                                    bool& isNew);

  const MessagesOptions options_;
  const EventReporter reporter_;
  DaemonLink daemon_;
  const std::map<std::string, std::shared_ptr<platform::CKService>> services_;
  RecentItems alerts_;
  std::mutex mutex_;
  std::map<std::vector<std::string>, std::shared_ptr<SimConversation>>
      conversations_;  // guarded by mutex_
};

}  // namespace pelorin::sim
