#pragma once

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "service/service_state.h"

namespace pelorin::service {

// Accounts as JSON: {"username", "password", "gv_number", "balance",
// "inbox": [{"name", "number", "text"}], "voicemail": [{"from", "transcript"}]}.
// Missing members take the demo account's number and balance and no
// messages. Throws nlohmann::json::exception when "username" or "password" is
// missing or a member has the wrong type.
Account accountFromJson(const nlohmann::json& object);
nlohmann::json accountToJson(const Account& account);

// The accounts of a file holding a JSON array of such objects; nullopt (with
// `error` set) when the file cannot be read or parsed.
std::optional<std::vector<Account>> readAccountsFile(const std::string& path, std::string& error);

}  // namespace pelorin::service
