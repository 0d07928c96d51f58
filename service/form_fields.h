#pragma once

#include <map>
#include <string>
#include <string_view>

namespace pelorin::service {

// "%XY" sequences decoded to their bytes; anything else, "+" included, kept
// as it stands (the client escapes every "+" and space it means literally).
// A "%" not followed by two hexadecimal digits is kept too.
std::string percentDecoded(std::string_view text);

// "name=value&name=value" (a form body or a query) as decoded names and
// values; the first of repeated names wins, a name without "=" has "".
std::map<std::string, std::string> formFields(std::string_view text);

// The query of a request target ("/path?query"), or "" without one.
std::string_view queryOf(std::string_view target);

// The value of `field` in `fields`, or "" when absent.
std::string fieldOr(const std::map<std::string, std::string>& fields, const std::string& field);

}  // namespace pelorin::service
