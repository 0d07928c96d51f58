#include "service/fault_plan.h"

namespace pelorin::service {
namespace {

bool matches(const Fault& fault, std::string_view path, std::string_view target) {
  if (fault.path.find('?') == std::string::npos) return fault.path == path;
  return target.starts_with(fault.path);
}

}  // namespace

void FaultPlan::add(Fault fault) {
  if (fault.count <= 0) return;
  std::lock_guard lock(mutex_);
  faults_.push_back(std::move(fault));
}

void FaultPlan::clear() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

std::vector<Fault> FaultPlan::pending() const {
  std::lock_guard lock(mutex_);
  return faults_;
}

std::optional<Fault> FaultPlan::take(std::string_view path, std::string_view target) {
  std::lock_guard lock(mutex_);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (!matches(*it, path, target)) continue;
    Fault taken = *it;
    if (--it->count == 0) faults_.erase(it);
    return taken;
  }
  return std::nullopt;
}

}  // namespace pelorin::service
