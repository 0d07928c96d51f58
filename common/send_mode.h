#pragma once

#include <cstdint>

namespace pelorin {

// The route of an outgoing text. The rules file stores these values.
using SendMode = std::int32_t;

inline constexpr SendMode SendModeFailed = -2;               // cannot be routed; the send fails
inline constexpr SendMode SendModeNoRule = -1;               // no send rule matched (lookup only)
inline constexpr SendMode SendModeCarrier = 0;               // left to the platform
inline constexpr SendMode SendModeGoogleVoice = 1;           // sent through Google Voice
inline constexpr SendMode SendModeGoogleVoiceShortCode = 2;  // a short code through Google Voice

}  // namespace pelorin
