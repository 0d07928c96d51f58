#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/messaging/imd_account_controller.h"
#include "platform/value.h"
#include "sim/messaging_daemon/daemon_events.h"
#include "sim/messaging_daemon/message_store.h"
#include "sim/messaging_daemon/sim_message_center.h"
#include "sim/messaging_daemon/sim_service_session.h"

namespace pelorin::sim {

struct DaemonOptions {
  bool isAniPhone = true;                                // the device has a carrier
  std::vector<std::string> services{"SMS", "iMessage"};  // sessions the device has
  // Selectors of the replaceable methods the host does not offer (a platform
  // without them): calls run the platform's own code and tweaks find nothing.
  std::set<std::string> withoutMethods;
  // The message store's database; empty keeps the store in memory.
  std::string databasePath;
};

// Where the daemon runs the sends and announcements its control operations
// start; empty runs them at once, on the caller's thread.
using Executor = std::function<void(std::function<void()> work)>;

// The result of a control operation: a value, or the reason it was refused.
template <class T>
struct Outcome {
  std::optional<T> value;
  std::string error;
  static Outcome failure(std::string why) { return {std::nullopt, std::move(why)}; }
};

// The simulated messaging daemon: the carrier message centre, the service
// sessions and their chats, the message store, and what the phone does on the
// carrier's process-local notifications. Usable in-process (tests) or inside
// the daemon host. Every function is thread-safe.
//
// Events reported, besides those of the centre and sessions: {"event":
// "added"|"updated", "message": ...} for each change of the store.
class MessagingDaemon final : public platform::IMDAccountController {
 public:
  MessagingDaemon(DaemonOptions options, EventReporter reporter, Executor executor = {});
  ~MessagingDaemon() override;

  // Registers the messaging classes with the object runtime, installs this as
  // the shared account controller and observes the carrier notifications on
  // the process-local centre. Call once, before loading tweaks; the daemon
  // must then outlive the process's use of that centre.
  void start();

  // Marks failed, as the phone does after a crash, every message an earlier
  // run left "sending": a carrier message with the carrier's
  // "kCTMessageSendErrorNotification" for its id, posted on the
  // process-local centre (the daemon and every observer, tweaks included,
  // hear it); a chat message the carrier never had through its session's
  // didReceiveError:forMessageID:forceError:. Call once, after start() and
  // loading the tweaks.
  void failInterruptedSends();

  std::shared_ptr<platform::IMDServiceSession> anySessionForServiceName(
      const Text& serviceName) override;
  SimMessageCenter& messageCenter() { return center_; }
  MessageStore& store() { return store_; }

  // Runs `work` through the executor.
  void perform(std::function<void()> work);

  // What the Messages application and the carrier ask of the daemon. Each
  // stores what it must and answers; the send or announcement itself runs
  // through the executor.
  // An outgoing SMS of `parts` parts (the text split between them); its id.
  Outcome<std::uint32_t> sendSMS(const std::vector<std::string>& recipients,
                                 const std::string& text, std::uint32_t parts);
  // A chat message sent in the service's chat (made when missing); its guid.
  Outcome<std::string> sendChatMessage(const std::string& service,
                                       const std::string& chatIdentifier,
                                       const std::vector<std::string>& participants,
                                       const std::string& text,
                                       const std::vector<std::string>& attachments);
  Outcome<bool> createChat(const std::string& service, const std::string& chatIdentifier,
                           const std::vector<std::string>& participants);
  // A carrier SMS arriving from `sender`: announced with the received
  // notification, as the carrier does; its id.
  Outcome<std::uint32_t> deliverSMS(const std::string& sender, const std::string& text);

 private:
  void onSent(const platform::Dictionary& userInfo, const std::string& state);
  void onReceived(const platform::Dictionary& userInfo);

  const DaemonOptions options_;
  const EventReporter reporter_;
  const Executor executor_;
  MessageStore store_;
  SimMessageCenter center_;
  std::map<std::string, std::shared_ptr<SimServiceSession>> sessions_;  // fixed after construction
};

}  // namespace pelorin::sim
