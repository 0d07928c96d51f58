#pragma once

#include <string_view>

namespace pelorin::platform {

// Whether two UTF-8 texts are equal ignoring case, as Unicode defines it: both
// are case-folded (fully, so "Straße" matches "STRASSE") and brought to one
// canonical form (so "é" written as one character or as "e" and a combining
// accent match). A text that is not valid UTF-8 matches only the same bytes.
// Thread-safe.
bool equalIgnoringCase(std::string_view a, std::string_view b);

}  // namespace pelorin::platform
