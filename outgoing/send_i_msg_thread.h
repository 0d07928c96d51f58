#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/messaging/fz_message.h"
#include "platform/messaging/imd_chat.h"

namespace pelorin {

class GVInterface;

// Sends an iMessage chat's message through Google Voice to each participant,
// on a thread of its own, then tells the chat's session that the message was
// delivered (at the current date) or failed (error 4, forced). The worker
// owns references to its inputs; nobody waits for it.
class SendiMsgThread {
 public:
  // The error code reported for a message that could not be sent.
  static constexpr std::uint32_t kSendErrorCode = 4;

  // Starts a worker and returns at once. `gv` must outlive the worker. When no
  // thread can be started the message is reported failed at once.
  static void invokeForChat(std::shared_ptr<platform::IMDChat> chat,
                            std::shared_ptr<platform::FZMessage> message, std::string text,
                            GVInterface& gv);

  SendiMsgThread(std::shared_ptr<platform::IMDChat> chat,
                 std::shared_ptr<platform::FZMessage> message, std::string text, GVInterface& gv);

  // How many workers of this kind have not ended yet. Once it reads 0 every
  // worker's effects happened before the read (for tests and diagnostics).
  static std::size_t runningWorkers();

  // The worker's body: sends the text to each participant's ID as the chat
  // holds it, in order, stopping at the first failure; then one report.
  void main();

 private:
  void report(bool sent) const;

  std::shared_ptr<platform::IMDChat> currentChat_;
  std::shared_ptr<platform::FZMessage> message_;
  std::string textMsg_;
  GVInterface* gv_;
};

}  // namespace pelorin
