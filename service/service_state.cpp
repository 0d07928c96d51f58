#include "service/service_state.h"

#include <chrono>
#include <cstdio>
#include <random>

namespace pelorin::service {
namespace {

std::string digitsOf(const std::string& number) {
  std::string digits;
  for (char c : number) {
    if (c >= '0' && c <= '9') digits += c;
  }
  return digits;
}

template <class Map>
std::optional<typename Map::mapped_type> lookup(const Map& map, const std::string& key) {
  const auto it = map.find(key);
  if (it == map.end()) return std::nullopt;
  return it->second;
}

}  // namespace

ServiceState::ServiceState() : secretSeed_(std::random_device{}()) {}

std::string ServiceState::newSecret(std::string_view prefix) {
  std::mt19937_64 generator(secretSeed_ + ++secretCounter_);
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%016llx%04llx",
                static_cast<unsigned long long>(generator()),
                static_cast<unsigned long long>(secretCounter_ & 0xffff));
  return std::string(prefix) + buffer;
}

void ServiceState::addAccount(Account account) {
  std::lock_guard lock(mutex_);
  if (!formTokens_.contains(account.username)) {
    // Real form tokens carry "/", "+" and "="; so does this one.
    formTokens_[account.username] = newSecret("AH/r+") + "=";
  }
  const std::string username = account.username;
  accounts_[username] = std::move(account);
}

std::optional<Account> ServiceState::account(const std::string& username) const {
  std::lock_guard lock(mutex_);
  return lookup(accounts_, username);
}

std::vector<Account> ServiceState::accounts() const {
  std::lock_guard lock(mutex_);
  std::vector<Account> all;
  for (const auto& [name, account] : accounts_) all.push_back(account);
  return all;
}

std::optional<std::string> ServiceState::signIn(const std::string& username,
                                                const std::string& password) {
  std::lock_guard lock(mutex_);
  const auto it = accounts_.find(username);
  if (it == accounts_.end() || it->second.password != password) return std::nullopt;
  std::string token = newSecret("DQAAA");
  tokens_[token] = username;
  return token;
}

std::optional<std::string> ServiceState::userForToken(const std::string& token) const {
  std::lock_guard lock(mutex_);
  return lookup(tokens_, token);
}

std::optional<std::string> ServiceState::userForGvx(const std::string& value) const {
  std::lock_guard lock(mutex_);
  return lookup(gvxValues_, value);
}

std::string ServiceState::issueGvx(const std::string& username) {
  std::lock_guard lock(mutex_);
  std::string value = newSecret("gvx");
  gvxValues_[value] = username;
  return value;
}

void ServiceState::expireTokens() {
  std::lock_guard lock(mutex_);
  tokens_.clear();
}

void ServiceState::expireCookies() {
  std::lock_guard lock(mutex_);
  gvxValues_.clear();
}

std::string ServiceState::formToken(const std::string& username) const {
  std::lock_guard lock(mutex_);
  return lookup(formTokens_, username).value_or("");
}

void ServiceState::recordText(SentText text) {
  std::lock_guard lock(mutex_);
  texts_.push_back(std::move(text));
}

std::vector<SentText> ServiceState::texts() const {
  std::lock_guard lock(mutex_);
  return texts_;
}

std::string ServiceState::accessNumberFor(const std::string& target) {
  std::lock_guard lock(mutex_);
  auto [it, added] = accessNumbers_.try_emplace(digitsOf(target));
  if (added) {
    char number[16];
    std::snprintf(number, sizeof number, "+1415555%04llu",
                  static_cast<unsigned long long>(3000 + nextAccessNumber_++ % 7000));
    it->second = number;
  }
  return it->second;
}

void ServiceState::setAccessNumber(const std::string& target, const std::string& accessNumber) {
  std::lock_guard lock(mutex_);
  accessNumbers_[digitsOf(target)] = accessNumber;
}

void ServiceState::recordCallback(CallbackRequest request) {
  std::lock_guard lock(mutex_);
  callbacks_.push_back(std::move(request));
}

bool ServiceState::cancelCallbacks(const std::string& username) {
  std::lock_guard lock(mutex_);
  bool cancelled = false;
  for (auto& callback : callbacks_) {
    if (callback.username != username || callback.cancelled) continue;
    callback.cancelled = true;
    cancelled = true;
  }
  return cancelled;
}

std::vector<CallbackRequest> ServiceState::callbacks() const {
  std::lock_guard lock(mutex_);
  return callbacks_;
}

bool ServiceState::addInboxEntry(const std::string& username, InboxEntry entry) {
  std::lock_guard lock(mutex_);
  const auto it = accounts_.find(username);
  if (it == accounts_.end()) return false;
  it->second.inbox.insert(it->second.inbox.begin(), std::move(entry));
  return true;
}

bool ServiceState::addVoicemail(const std::string& username, Voicemail voicemail) {
  std::lock_guard lock(mutex_);
  const auto it = accounts_.find(username);
  if (it == accounts_.end()) return false;
  it->second.voicemail.push_back(std::move(voicemail));
  return true;
}

Account demoAccount() {
  return Account{
      .username = "pelorin.demo@gmail.com",
      .password = "voice-demo",
      .gvNumber = "(415) 555-0142",
      .balance = "$4.20",
      .inbox = {{"Ann O'Brien", "+14155550101", "See you at six?"},
                {"Tom & Jerry <Cheese Co.>", "+14155550102", "Your order is ready."},
                {"Sam \"Sparky\" Lee", "+14155550103", "Call me back when you can."}},
      .voicemail = {{"+14155550104", "Hi, it's Dana. Just checking in."}},
  };
}

}  // namespace pelorin::service
