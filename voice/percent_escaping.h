#pragma once

#include <string>
#include <string_view>

namespace pelorin {

// The escaping the Google Voice requests use for form and query values: every
// UTF-8 byte becomes "%" and two upper-case hexadecimal digits, except ASCII
// letters, digits, "-", ".", "_" and "~". ("!*'();:@&=+$,/?%#[]" and
// everything never legal in a URL are escaped.)
std::string percentEscaped(std::string_view text);

}  // namespace pelorin
