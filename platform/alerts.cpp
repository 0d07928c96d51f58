#include "platform/alerts.h"

#include <atomic>

namespace pelorin::platform {
namespace {

std::atomic<AlertPresenter*> installedPresenter{nullptr};

}  // namespace

void showAlert(const Alert& alert) {
  if (auto* presenter = installedPresenter.load(std::memory_order_acquire)) {
    presenter->present(alert);
  }
}

void setAlertPresenter(AlertPresenter* presenter) {
  installedPresenter.store(presenter, std::memory_order_release);
}

}  // namespace pelorin::platform
