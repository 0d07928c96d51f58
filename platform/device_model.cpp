#include "platform/device_model.h"

#include <mutex>

namespace pelorin::platform {
namespace {

std::mutex modelMutex;
std::string model = "iPhone";  // guarded by modelMutex

}  // namespace

std::string deviceModel() {
  std::lock_guard lock(modelMutex);
  return model;
}

void setDeviceModel(std::string value) {
  std::lock_guard lock(modelMutex);
  model = std::move(value);
}

}  // namespace pelorin::platform
