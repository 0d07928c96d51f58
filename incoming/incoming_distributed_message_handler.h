#pragma once

#include <chrono>
#include <memory>

#include "platform/messaging_center.h"
#include "platform/text.h"

namespace pelorin {

class IncomingMessageHandler;

// The received-SMS centre "com.talvern.PelorinSMSRecvCenter": the daemon
// serves it, the home screen and the Mail application send it received-SMS
// records (message "SMSReceived", a dictionary of the text under
// "kSGSMSTextMessageKey" and the sender under "kSGSMSSenderPhoneKey").
// Each process-wide instance is created on first request and never destroyed.
class IncomingDistributedMessageHandler {
 public:
  // The longest a received record waits for its sender's lookup.
  static constexpr std::chrono::milliseconds kLookupBound{15'000};

  // The server: takes the centre's name and serves it on the calling
  // thread's run loop (in the daemon, the thread that ran Quenlow's start-up).
  // When the name cannot be taken the server receives nothing (the platform
  // reports why).
  static IncomingDistributedMessageHandler& sharedSever();
  // The client, for the processes that find texts.
  static IncomingDistributedMessageHandler& sharedClient();

  // Either end over `messagingCenter` (tests build their own); the bootstrap
  // library is applied to the centre.
  explicit IncomingDistributedMessageHandler(
      std::shared_ptr<platform::CPDistributedMessagingCenter> messagingCenter);
  IncomingDistributedMessageHandler(const IncomingDistributedMessageHandler&) = delete;
  IncomingDistributedMessageHandler& operator=(const IncomingDistributedMessageHandler&) = delete;

  // Server: every "SMSReceived" message goes to `handler` (the process's
  // incoming handler by default) through a ReceivedSMSWorker: a display-name
  // sender is looked up off the serving thread, waiting at most
  // `lookupBound`, and the records are delivered on the serving thread in the
  // order they arrived. The handler must outlive the centre.
  void registerForSMSRecvd();
  void registerForSMSRecvd(IncomingMessageHandler& handler,
                           std::chrono::milliseconds lookupBound = kLookupBound);

  // Client: sends one record without waiting for a reply. A record made
  // without a text carries neither entry; one without a sender carries the
  // text alone. True when it left; on failure the text is not kept (a line
  // is logged, nothing retried).
  bool sendSMSMessage(const Text& text, const Text& sender);

  // Opens the centre's name to other processes through the bootstrap library
  // (home screen). Does nothing when the library or its function is missing.
  static void unlock();

  const std::shared_ptr<platform::CPDistributedMessagingCenter>& messagingCenter() const {
    return messagingCenter_;
  }

 private:
  const std::shared_ptr<platform::CPDistributedMessagingCenter> messagingCenter_;
};

}  // namespace pelorin
