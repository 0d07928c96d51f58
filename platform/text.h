#pragma once

#include <optional>
#include <string>

namespace pelorin {

// A text that may be absent. Absent (nullopt) and empty are different values
// everywhere in the system. Contents are UTF-8.
using Text = std::optional<std::string>;

}  // namespace pelorin
