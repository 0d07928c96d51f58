#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/messaging/ct_phone_number.h"

namespace pelorin {

class GVInterface;

// Sends a carrier SMS that was taken over through Google Voice, on a thread
// of its own, then posts the platform's sent or send-error notification for
// the message's id. The worker owns copies of its inputs; nobody waits for it.
class SendSMSThread {
 public:
  using RecipientList = std::vector<std::shared_ptr<platform::CTPhoneNumber>>;

  // Starts a worker and returns at once. `gv` must outlive the worker. When no
  // thread can be started the send is reported failed at once.
  static void invokeWithDestination(RecipientList recipientList, std::string text,
                                    std::uint32_t messageId, GVInterface& gv);

  SendSMSThread(RecipientList recipientList, std::string text, std::uint32_t messageId,
                GVInterface& gv);

  // How many workers of this kind have not ended yet. Once it reads 0 every
  // worker's effects happened before the read (for tests and diagnostics).
  static std::size_t runningWorkers();

  // The worker's body: sends the text to each recipient's canonical number in
  // order and stops at the first failure; then one notification.
  void main();

 private:
  void post(bool sent) const;

  RecipientList recipientList_;
  std::string textMsg_;
  std::uint32_t messageId_;
  GVInterface* gv_;
};

}  // namespace pelorin
