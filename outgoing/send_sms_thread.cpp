#include "outgoing/send_sms_thread.h"

#include <exception>
#include <thread>

#include "common/local_observer_redirect.h"
#include "common/logger.h"
#include "common/names.h"
#include "platform/messaging/ct_message.h"
#include "voice/gv_interface.h"

namespace pelorin {

void SendSMSThread::invokeWithDestination(RecipientList recipientList, std::string text,
                                          std::uint32_t messageId, GVInterface& gv) {
  try {
    std::thread([worker = SendSMSThread(std::move(recipientList), std::move(text), messageId,
                                        gv)]() mutable {
      worker.main();
    }).detach();
  } catch (const std::exception&) {
    Logger::log("Could not start the worker for SMS %u", messageId);
    SendSMSThread({}, {}, messageId, gv).post(false);
  }
}

SendSMSThread::SendSMSThread(RecipientList recipientList, std::string text, std::uint32_t messageId,
                             GVInterface& gv)
    : recipientList_(std::move(recipientList)),
      textMsg_(std::move(text)),
      messageId_(messageId),
      gv_(&gv) {}

void SendSMSThread::main() {
  bool sent = true;
  try {
    for (const auto& recipient : recipientList_) {
      const Text number = recipient ? recipient->canonicalFormat() : Text();
      if (!gv_->sendSMSwithRetry(textMsg_, number)) {
        sent = false;
        break;
      }
    }
  } catch (const std::exception&) {
    sent = false;  // never let a failure end the host process
  }
  post(sent);
}

void SendSMSThread::post(bool sent) const {
  LocalObserverRedirect::postNotification(
      sent ? kCTMessageSentNotification : kCTMessageSendErrorNotification,
      {{std::string(kCTMessageTypeKey), platform::CTMessage::kPlainSMSType},
       {std::string(kCTMessageIdKey), messageId_}});
}

}  // namespace pelorin
