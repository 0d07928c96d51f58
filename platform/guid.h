#pragma once

#include <string>

namespace pelorin::platform {

// A fresh unique identifier text ("stringGUID"): 36 characters, upper-case
// hexadecimal in groups of 8-4-4-4-12, random (version 4). Thread-safe.
std::string stringGUID();

}  // namespace pelorin::platform
