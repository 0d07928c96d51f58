#include "platform/messaging/imd_account_controller.h"

#include <atomic>

namespace pelorin::platform {
namespace {

std::atomic<IMDAccountController*> installed{nullptr};

}  // namespace

IMDAccountController* IMDAccountController::sharedAccountController() {
  return installed.load();
}

void IMDAccountController::setSharedAccountController(IMDAccountController* controller) {
  installed.store(controller);
}

}  // namespace pelorin::platform
