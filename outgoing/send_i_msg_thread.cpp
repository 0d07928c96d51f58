#include "outgoing/send_i_msg_thread.h"

#include <atomic>
#include <exception>
#include <memory>
#include <thread>

#include "common/logger.h"
#include "platform/clock.h"
#include "platform/messaging/imd_service_session.h"
#include "voice/gv_interface.h"

namespace pelorin {
namespace {

std::atomic<std::size_t> running{0};

}  // namespace

std::size_t SendiMsgThread::runningWorkers() {
  return running.load(std::memory_order_acquire);
}

void SendiMsgThread::invokeForChat(std::shared_ptr<platform::IMDChat> chat,
                                   std::shared_ptr<platform::FZMessage> message, std::string text,
                                   GVInterface& gv) {
  auto worker = std::make_unique<SendiMsgThread>(chat, message, std::move(text), gv);
  running.fetch_add(1, std::memory_order_relaxed);
  try {
    std::thread([worker = std::move(worker)]() mutable {
      worker->main();
      worker.reset();  // the worker's references go before it counts as ended
      running.fetch_sub(1, std::memory_order_release);
    }).detach();
  } catch (const std::exception&) {
    running.fetch_sub(1, std::memory_order_relaxed);
    Logger::log("Could not start the worker for iMessage %@", message ? message->guid() : Text());
    SendiMsgThread(std::move(chat), std::move(message), {}, gv).report(false);
  }
}

SendiMsgThread::SendiMsgThread(std::shared_ptr<platform::IMDChat> chat,
                               std::shared_ptr<platform::FZMessage> message, std::string text,
                               GVInterface& gv)
    : currentChat_(std::move(chat)),
      message_(std::move(message)),
      textMsg_(std::move(text)),
      gv_(&gv) {}

void SendiMsgThread::main() {
  bool sent = true;
  try {
    const auto participants = currentChat_ ? currentChat_->participants()
                                           : std::vector<std::shared_ptr<platform::IMDHandle>>{};
    for (const auto& participant : participants) {
      const Text id = participant ? participant->ID() : Text();
      if (!gv_->sendSMSwithRetry(textMsg_, id)) {
        sent = false;
        break;
      }
    }
  } catch (const std::exception&) {
    sent = false;  // never let a failure end the host process
  }
  report(sent);
}

void SendiMsgThread::report(bool sent) const {
  auto session = currentChat_ ? currentChat_->serviceSession() : nullptr;
  if (!session || !message_) return;  // the daemon dropped the chat: nobody to tell
  if (sent) {
    session->didReceiveMessageDeliveryReceiptForMessageID(message_->guid(),
                                                          platform::currentDate());
  } else {
    session->didReceiveError(kSendErrorCode, message_->guid(), true);
  }
}

}  // namespace pelorin
