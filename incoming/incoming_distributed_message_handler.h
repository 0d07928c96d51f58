#pragma once

namespace pelorin {

// The received-SMS centre: the daemon serves it, the home screen and the Mail
// application send received-SMS records to it.
class IncomingDistributedMessageHandler {
 public:
  // The server; created on first call, served on the calling thread's loop.
  static IncomingDistributedMessageHandler& sharedSever();

  IncomingDistributedMessageHandler() = default;
  IncomingDistributedMessageHandler(const IncomingDistributedMessageHandler&) = delete;
  IncomingDistributedMessageHandler& operator=(const IncomingDistributedMessageHandler&) = delete;

  // Server: every "SMSReceived" message goes to the incoming handler.
  void registerForSMSRecvd();
};

}  // namespace pelorin
