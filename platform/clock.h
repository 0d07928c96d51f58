#pragma once

#include <optional>

#include "platform/value.h"

namespace pelorin::platform {

// The current date and time, as property lists store it: receipt dates and
// message times. Any thread.
Date currentDate();

// Tests: every later currentDate() returns `fixed`; nullopt restores the
// system clock.
void setCurrentDateForTesting(std::optional<double> secondsSince2001);

}  // namespace pelorin::platform
