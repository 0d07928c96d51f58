#include "outgoing/send_sms_thread.h"

#include <atomic>
#include <exception>
#include <memory>
#include <thread>

#include "common/local_observer_redirect.h"
#include "common/logger.h"
#include "common/names.h"
#include "platform/messaging/ct_message.h"
#include "voice/gv_interface.h"

namespace pelorin {
namespace {

std::atomic<std::size_t> running{0};

}  // namespace

std::size_t SendSMSThread::runningWorkers() {
  return running.load(std::memory_order_acquire);
}

void SendSMSThread::invokeWithDestination(RecipientList recipientList, std::string text,
                                          std::uint32_t messageId, GVInterface& gv) {
  auto worker =
      std::make_unique<SendSMSThread>(std::move(recipientList), std::move(text), messageId, gv);
  running.fetch_add(1, std::memory_order_relaxed);
  try {
    std::thread([worker = std::move(worker)]() mutable {
      worker->main();
      worker.reset();  // the worker's resources go before it counts as ended
      running.fetch_sub(1, std::memory_order_release);
    }).detach();
  } catch (const std::exception&) {
    running.fetch_sub(1, std::memory_order_relaxed);
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
