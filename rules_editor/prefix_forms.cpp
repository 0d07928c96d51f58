// Placeholder: being written.
#include "rules_editor/prefix_forms.h"

namespace pelorin::rules_editor {

std::string toCanonicalPhoneNumber(const Text& prefix) { return prefix.value_or(""); }
std::string toInternationalPhoneNumber(const Text& prefix) { return prefix.value_or(""); }

}  // namespace pelorin::rules_editor
