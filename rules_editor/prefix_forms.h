#pragma once

#include <string>

#include "platform/text.h"

// The rules editor's conversions of a prefix, which may be a partial number.
// They do not classify the text and accept anything; absent counts as empty.
// They are not the CommonUtils conversions of similar names.
namespace pelorin::rules_editor {

// The canonical prefix form, under which a rule is stored ("(212)" -> "1212",
// "+44" -> "01144", "0044" -> "0044", "" -> "1").
std::string toCanonicalPhoneNumber(const Text& prefix);

// The international prefix form shown for a contact's number ("212" -> "+1212",
// "011 44" -> "+44", "" -> "+1").
std::string toInternationalPhoneNumber(const Text& prefix);

}  // namespace pelorin::rules_editor
