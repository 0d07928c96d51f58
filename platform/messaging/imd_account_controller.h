#pragma once

#include <memory>

#include "platform/messaging/imd_service_session.h"
#include "platform/text.h"

namespace pelorin::platform {

// The messaging daemon's account controller: finds the session of a service.
class IMDAccountController {
 public:
  IMDAccountController() = default;
  IMDAccountController(const IMDAccountController&) = delete;
  IMDAccountController& operator=(const IMDAccountController&) = delete;
  virtual ~IMDAccountController() = default;

  // The process's controller: the one the host (or a test) installed, or
  // nullptr in a process without a messaging daemon.
  static IMDAccountController* sharedAccountController();
  // Installs the process's controller (nullptr removes it); it must outlive
  // its installation. Thread-safe.
  static void setSharedAccountController(IMDAccountController* controller);

  // A session of the service ("SMS", "iMessage"), or nullptr when the service
  // has none. Any thread.
  virtual std::shared_ptr<IMDServiceSession> anySessionForServiceName(const Text& serviceName) = 0;
};

}  // namespace pelorin::platform
