#include "platform/process_info.h"

#include <errno.h>

#include <mutex>

namespace pelorin::platform {
namespace {

std::mutex identityMutex;
Text identifier;         // guarded by identityMutex
std::string executable;  // guarded by identityMutex

}  // namespace

Text bundleIdentifier() {
  std::lock_guard lock(identityMutex);
  return identifier;
}

void setBundleIdentifier(Text value) {
  std::lock_guard lock(identityMutex);
  identifier = std::move(value);
}

std::string processName() {
  std::lock_guard lock(identityMutex);
  return executable.empty() ? std::string(program_invocation_short_name) : executable;
}

void setProcessName(std::string name) {
  std::lock_guard lock(identityMutex);
  executable = std::move(name);
}

}  // namespace pelorin::platform
