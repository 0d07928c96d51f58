#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pelorin::service {

// A conversation on the recent-texts page: who (a display name), the number
// the page offers to call, and the last text.
struct InboxEntry {
  std::string name;
  std::string number;
  std::string text;
};

struct Voicemail {
  std::string from;
  std::string transcript;
};

struct Account {
  std::string username;
  std::string password;
  std::string gvNumber;  // as the account page shows it
  std::string balance;   // as the service formats it
  std::vector<InboxEntry> inbox;
  std::vector<Voicemail> voicemail;
};

struct SentText {
  std::string username;
  std::string recipient;
  std::string text;
};

struct CallbackRequest {
  std::string username;
  std::string outgoingNumber;
  std::string forwardingNumber;
  std::string phoneType;
  bool cancelled = false;
};

// Everything the stand-in service remembers: accounts, the sign-in tokens,
// "gvx" cookies and form tokens it handed out, texts sent, access numbers,
// call-backs. Thread-safe; every method takes the one lock.
class ServiceState {
 public:
  ServiceState();

  // Adds or replaces the account of the same user name; a new account gets
  // a form token of its own.
  void addAccount(Account account);
  std::optional<Account> account(const std::string& username) const;
  std::vector<Account> accounts() const;

  // A new sign-in token when user name and password match an account.
  std::optional<std::string> signIn(const std::string& username, const std::string& password);
  // The user a live token or "gvx" value belongs to.
  std::optional<std::string> userForToken(const std::string& token) const;
  std::optional<std::string> userForGvx(const std::string& value) const;
  std::string issueGvx(const std::string& username);
  // Forgets every token / cookie handed out so far: the client must renew.
  void expireTokens();
  void expireCookies();

  // The form token ("_rnr_se") of the account; it contains characters that
  // must be escaped in a form.
  std::string formToken(const std::string& username) const;

  void recordText(SentText text);
  std::vector<SentText> texts() const;

  // The access number for a target: the one set for it, or the next free one
  // of the pool, remembered from then on. Targets compare by their digits.
  std::string accessNumberFor(const std::string& target);
  void setAccessNumber(const std::string& target, const std::string& accessNumber);

  void recordCallback(CallbackRequest request);
  // Marks the user's open call-backs cancelled; false when there was none.
  bool cancelCallbacks(const std::string& username);
  std::vector<CallbackRequest> callbacks() const;

  bool addInboxEntry(const std::string& username, InboxEntry entry);
  bool addVoicemail(const std::string& username, Voicemail voicemail);

 private:
  std::string newSecret(std::string_view prefix);

  mutable std::mutex mutex_;
  // Guarded by mutex_:
  std::map<std::string, Account> accounts_;
  std::map<std::string, std::string> formTokens_;  // user name -> "_rnr_se"
  std::map<std::string, std::string> tokens_;      // sign-in token -> user name
  std::map<std::string, std::string> gvxValues_;   // "gvx" value -> user name
  std::vector<SentText> texts_;
  std::map<std::string, std::string> accessNumbers_;  // target digits -> access number
  std::uint64_t nextAccessNumber_ = 0;
  std::vector<CallbackRequest> callbacks_;
  std::uint64_t secretCounter_ = 0;
  std::uint64_t secretSeed_ = 0;
};

// The account the service starts with unless told otherwise.
Account demoAccount();

}  // namespace pelorin::service
