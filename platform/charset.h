#pragma once

#include <string_view>

#include "platform/text.h"
#include "platform/value.h"

namespace pelorin::platform {

// Decodes `bytes` written in the character set named by `ianaName` (an IANA
// name such as "UTF-8", "ISO-8859-1", "windows-1252"; case-insensitive) into
// UTF-8 text. An absent, empty or unknown name gives no text, and so do bytes
// that are not valid in that character set: a body is never half decoded.
// Thread-safe.
Text decodeCharacterSet(const Data& bytes, const Text& ianaName);

}  // namespace pelorin::platform
