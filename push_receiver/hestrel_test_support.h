#pragma once

#include <mutex>
#include <vector>

#include "platform/alerts.h"

namespace pelorin::testing {

// Records every alert shown in the process while it lives.
class AlertRecorder final : public platform::AlertPresenter {
 public:
  AlertRecorder() { platform::setAlertPresenter(this); }
  ~AlertRecorder() override { platform::setAlertPresenter(nullptr); }

  void present(const platform::Alert& alert) override {
    std::lock_guard lock(mutex_);
    alerts_.push_back(alert);
  }
  std::vector<platform::Alert> alerts() const {
    std::lock_guard lock(mutex_);
    return alerts_;
  }
  std::vector<std::string> messages() const {
    std::vector<std::string> result;
    for (const auto& alert : alerts()) result.push_back(alert.message.value_or(""));
    return result;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    alerts_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<platform::Alert> alerts_;  // guarded by mutex_
};

}  // namespace pelorin::testing
