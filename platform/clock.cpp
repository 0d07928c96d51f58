#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <cmath>

namespace pelorin::platform {
namespace {

// Seconds from the Unix epoch to 2001-01-01 00:00 UTC.
constexpr double kEpoch2001 = 978307200.0;

// NaN stands for "no fixed date": a double is lock-free where an optional is not.
std::atomic<double> fixedDate{std::nan("")};

}  // namespace

Date currentDate() {
  const double fixed = fixedDate.load(std::memory_order_relaxed);
  if (!std::isnan(fixed)) return Date{fixed};
  const auto sinceUnix =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch());
  return Date{sinceUnix.count() - kEpoch2001};
}

void setCurrentDateForTesting(std::optional<double> secondsSince2001) {
  fixedDate.store(secondsSince2001.value_or(std::nan("")), std::memory_order_relaxed);
}

}  // namespace pelorin::platform
