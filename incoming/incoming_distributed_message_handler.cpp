#include "incoming/incoming_distributed_message_handler.h"

#include <atomic>
#include <string>

#include "common/logger.h"
#include "common/names.h"
#include "incoming/incoming_message_handler.h"
#include "incoming/received_sms_worker.h"
#include "platform/dynamic_library.h"
#include "platform/rocketbootstrap.h"
#include "platform/root_path.h"

namespace pelorin {
namespace {

// One cached address per function, empty until found; a miss is looked up
// again on the next call (the library may be installed later).
template <class Function>
Function* boundFunction(std::atomic<Function*>& cache, std::string_view symbol) {
  if (Function* bound = cache.load(std::memory_order_acquire)) return bound;
  Function* found = platform::findLibraryFunction<Function>(
      platform::resolvePath(platform::kRocketBootstrapLibrary), std::string(symbol));
  if (found) cache.store(found, std::memory_order_release);
  return found;
}

std::atomic<platform::RocketBootstrapApply*> boundApply{nullptr};
std::atomic<platform::RocketBootstrapUnlock*> boundUnlock{nullptr};

void applyRocketBootstrap(platform::CPDistributedMessagingCenter* center) {
  if (auto* apply = boundFunction(boundApply, platform::kRocketBootstrapApplySymbol)) apply(center);
}

}  // namespace

IncomingDistributedMessageHandler::IncomingDistributedMessageHandler(
    std::shared_ptr<platform::CPDistributedMessagingCenter> messagingCenter)
    : messagingCenter_(std::move(messagingCenter)) {
  applyRocketBootstrap(messagingCenter_.get());
}

IncomingDistributedMessageHandler& IncomingDistributedMessageHandler::sharedSever() {
  static auto* server = [] {
    auto* handler = new IncomingDistributedMessageHandler(
        platform::CPDistributedMessagingCenter::centerNamed(std::string(kSMSRecvCenterName)));
    handler->messagingCenter_->runServerOnCurrentThread();
    return handler;
  }();
  return *server;
}

IncomingDistributedMessageHandler& IncomingDistributedMessageHandler::sharedClient() {
  static auto* client = new IncomingDistributedMessageHandler(
      platform::CPDistributedMessagingCenter::centerNamed(std::string(kSMSRecvCenterName)));
  return *client;
}

void IncomingDistributedMessageHandler::registerForSMSRecvd() {
  registerForSMSRecvd(IncomingMessageHandler::sharedInstance());
}

void IncomingDistributedMessageHandler::registerForSMSRecvd(IncomingMessageHandler& handler,
                                                            std::chrono::milliseconds lookupBound) {
  auto worker = std::make_shared<ReceivedSMSWorker>(handler, lookupBound);
  messagingCenter_->registerForMessageName(
      std::string(kSMSReceivedMessageName),
      [worker](const std::string&, const platform::Dictionary& userInfo) {
        worker->take(userInfo);
      });
}

bool IncomingDistributedMessageHandler::sendSMSMessage(const Text& text, const Text& sender) {
  platform::Dictionary payload;
  if (text) {
    payload.emplace(std::string(kSMSTextMessageKey), *text);
    if (sender) payload.emplace(std::string(kSMSSenderPhoneKey), *sender);
  }
  Logger::log("Before sending message with name %@ sent with text %@ and sender %@",
              kSMSReceivedMessageName, text, sender);
  const bool sent =
      messagingCenter_->sendMessageName(std::string(kSMSReceivedMessageName), payload);
  Logger::log("Sending message %@", sent ? "successful" : "failed");
  return sent;
}

void IncomingDistributedMessageHandler::unlock() {
  if (auto* unlockName = boundFunction(boundUnlock, platform::kRocketBootstrapUnlockSymbol)) {
    unlockName(std::string(kSMSRecvCenterName).c_str());
  }
}

}  // namespace pelorin
