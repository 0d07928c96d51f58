#pragma once

#include <string>
#include <vector>

#include "platform/text.h"

namespace pelorin::platform {

// The platform's modal alert: a title, a message and button titles, shown to
// the user by the process's host and forgotten (no delegate). Process-wide,
// so a library loaded into any host shows its alerts the same way.
struct Alert {
  Text title;
  Text message;
  std::vector<std::string> buttons;
};

// What a host installs to show alerts. present() may be called from any
// thread, must return at once (the alert is shown, never waited on) and must
// not throw.
class AlertPresenter {
 public:
  AlertPresenter() = default;
  AlertPresenter(const AlertPresenter&) = delete;
  AlertPresenter& operator=(const AlertPresenter&) = delete;
  virtual ~AlertPresenter() = default;

  virtual void present(const Alert& alert) = 0;
};

// Shows `alert` through the installed presenter; without one (a process whose
// host shows no alerts) the alert goes nowhere. Any thread; never blocks on
// the user.
void showAlert(const Alert& alert);

// Installs the process's presenter (nullptr: none). It must outlive its
// installation.
void setAlertPresenter(AlertPresenter* presenter);

}  // namespace pelorin::platform
