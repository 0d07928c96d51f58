#pragma once

#include <string_view>

namespace pelorin::platform {

// The mail store's process-local notification: new messages were stored; the
// user info carries them under "messages".
inline constexpr std::string_view kMailMessageStoreMessagesAdded = "MailMessageStoreMessagesAdded";

}  // namespace pelorin::platform
