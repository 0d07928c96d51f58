#include "service/account_json.h"

#include <fstream>
#include <nlohmann/json.hpp>

namespace pelorin::service {

using nlohmann::json;

Account accountFromJson(const json& object) {
  const Account demo = demoAccount();
  Account account{.username = object.at("username").get<std::string>(),
                  .password = object.at("password").get<std::string>(),
                  .gvNumber = object.value("gv_number", demo.gvNumber),
                  .balance = object.value("balance", demo.balance)};
  for (const auto& entry : object.value("inbox", json::array())) {
    account.inbox.push_back(
        {entry.at("name").get<std::string>(), entry.value("number", ""), entry.value("text", "")});
  }
  for (const auto& entry : object.value("voicemail", json::array())) {
    account.voicemail.push_back({entry.value("from", ""), entry.value("transcript", "")});
  }
  return account;
}

json accountToJson(const Account& account) {
  json inbox = json::array();
  for (const auto& e : account.inbox) {
    inbox.push_back({{"name", e.name}, {"number", e.number}, {"text", e.text}});
  }
  json voicemail = json::array();
  for (const auto& v : account.voicemail) {
    voicemail.push_back({{"from", v.from}, {"transcript", v.transcript}});
  }
  return {{"username", account.username},
          {"gv_number", account.gvNumber},
          {"balance", account.balance},
          {"inbox", inbox},
          {"voicemail", voicemail}};
}

std::optional<std::vector<Account>> readAccountsFile(const std::string& path, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return std::nullopt;
  }
  try {
    const json document = json::parse(in);
    std::vector<Account> accounts;
    for (const auto& object : document) accounts.push_back(accountFromJson(object));
    return accounts;
  } catch (const json::exception& e) {
    error = path + ": " + e.what();
    return std::nullopt;
  }
}

}  // namespace pelorin::service
