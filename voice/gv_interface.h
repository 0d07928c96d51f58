#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "voice/access_number_cache.h"

namespace pelorin {

// The process's client of the Google Voice web service: the account's
// credentials, the tokens the service hands out (sign-in token, "_rnr_se" form
// token, "gvx" cookie), values read from the account, the user's own and
// call-back numbers, and the process's access-number cache.
//
// Every request is synchronous on the calling thread; a request is judged
// only when a reply came back with status 200 (transport failures are neither
// examined nor logged). Failures are return values (false, nil) plus the log
// lines of each operation; nothing throws.
//
// Threads: every public operation may be called from any thread. The
// operation lock serialises the operations that talk to the service, held
// across each whole operation and each whole retry ladder, so one thread's
// sign-in never interleaves with another's use of the tokens; such calls wait
// for a running ladder (up to nine requests). The plain field getters and
// setters never wait on the network: the fields have a small lock of their
// own, held only while a field is read or replaced.
class GVInterface {
 public:
  // A byte range of a reply, as the response scanner takes and reports it.
  struct Range {
    std::uint64_t location = 0;
    std::uint64_t length = 0;
    friend bool operator==(const Range&, const Range&) = default;
  };
  // The location of a range that marks "not found".
  static constexpr std::uint64_t kNotFound = static_cast<std::uint64_t>(INT64_MAX);

  // The process's instance, talking to platform::voiceServiceBaseURL();
  // created on first call, never destroyed.
  static GVInterface& sharedInstance();

  // An instance of its own (tests, tools) talking to `serviceBaseURL`
  // (scheme, host and optional port, e.g. "https://www.google.com"). Only
  // https:// is ever talked to: with another scheme every request fails.
  explicit GVInterface(std::string serviceBaseURL);
  GVInterface(const GVInterface&) = delete;
  GVInterface& operator=(const GVInterface&) = delete;

  // Response scanner: finds `key`'s first occurrence within `range` of `data`
  // and returns the text after it, skipping spaces, CR and LF, up to (not
  // including) LF, CR, "<", `endChar` or the end of `data`. Skipping and
  // counting are bounded by the end of `data`, not of `range`. nil when the key
  // is empty or absent (`outputRange` location set to kNotFound), when nothing
  // follows the key (`outputRange` unchanged), or when the value is not UTF-8
  // (`outputRange` set). An empty value is found. A range reaching past the
  // data is cut at its end.
  static Text findValueForKey(std::string_view key, std::string_view data, Range range,
                              Range* outputRange, std::int8_t endChar);

  // --- Session ---

  // Signs in with the user name and password. false, changing nothing, when
  // either is nil; otherwise signs out first, and true when the reply passed
  // (also when it held no "Auth=" line: the session then stays signed out).
  bool getAuthToken();
  // Signs out: the sign-out request and a dropped token; nothing when signed out.
  void logOut();
  // Fetches the "_rnr_se" form token (stored escaped). Needs the sign-in token.
  bool getRNRSE();
  // Fetches the page that sets the "gvx" cookie and takes the first "gvx" of
  // the process's cookie store. Needs the sign-in token.
  bool getGVXCookie();
  // Reads the account's number and balance. Needs the sign-in token.
  bool getGVNumberOnline();

  // The account's number (canonical), fetched and signing in when not known.
  Text gvPhoneNumber();
  // gvPhoneNumber() when access numbers may be asked of the service, else nil.
  Text offlineGVPhoneNumber();

  // --- Sending, reading, access numbers, call-back, voicemail ---

  // One attempt to send `message` to `recipient`; true when the service
  // accepted it. Needs the sign-in token and the "gvx" cookie. The request
  // goes out at most once.
  bool sendSMS(const Text& message, const Text& recipient);
  // sendSMS inside the token-refresh ladder: up to three attempts. An
  // attempt whose request may have reached the service without an answer
  // coming back (a time-out, a connection lost after sending) is not made
  // again: the text is reported not sent rather than perhaps sent twice.
  bool sendSMSwithRetry(const Text& message, const Text& recipient);
  // The recent-texts page, unparsed; nil on failure or when signed out.
  std::optional<std::string> recvSMS();
  // The quick-call number that follows the first contact name on the
  // recent-texts page equal (after HTML entities) to `sender`; nil if none.
  static Text parseSMSData(std::string_view data, const Text& sender);
  // Asks for the voicemail list and logs the reply; returns the reply body
  // (nil on failure) for callers that want to show it.
  std::optional<std::string> getVoiceMailList();
  // Asks the service to ring the call-back number and connect it to `number`.
  // Needs the sign-in and form tokens, and setCallbackNumber() done.
  bool setupGVCallback(const Text& number);
  bool cancelGVCallback();
  // One attempt to get the access number for `targetNumber` (canonical
  // result); also replaces the balance with the reply's.
  Text getGVDirectAccessNumber(const Text& targetNumber);
  // The access number from the cache, or from the service inside the
  // token-refresh ladder (then recorded in the cache). Asks the service only
  // when access numbers may be asked and the own number is a valid US number.
  Text getGVAccessNumberwithRetry(const Text& targetNumber);

  // --- Fields ---

  AccessNumberCache& accessNumberCache() { return accessNumberCache_; }
  Text gvBalance() const;
  Text iPhoneNumber() const;
  Text callbackNumber() const;
  bool isiPhoneNumberValid() const;
  bool isCallbackNumberValid() const;
  bool useGoogleTalk() const;
  bool callThisPhone() const;
  bool useDataforAccessNumbers() const;
  // Read-only views of the session, for diagnostics.
  Text authToken() const;
  Text rnrseToken() const;
  Text gvxCookie() const;
  Text phoneType() const;

  // Plain replacements. Changing the credentials does not sign out.
  void setUserName(const Text& userName);
  void setPassword(const Text& password);
  void setGVBalance(const Text& balance);
  void setUseGoogleTalk(bool useGoogleTalk);
  void setUseDataforAccessNumbers(bool useData);
  // Canonical form of the argument (nil when blank), and whether it is a US number.
  void setiPhoneNumber(const Text& number);
  // The call-back target: the chat address with useGoogleTalk, otherwise the
  // argument (or the own number when blank), canonical.
  void setCallbackNumber(const Text& number);

 private:
  enum HeaderFields : unsigned { kNoFields = 0, kAuthorizationField = 1, kUserAgentField = 2 };
  struct Request {
    std::string_view method;
    std::string pathAndQuery;
    unsigned fields = kNoFields;
    std::optional<std::string> body;
    bool repeatable = true;  // see platform::HttpRequest
  };
  // What a request came to: the body of a reply that passed the gate, or
  // none, and then whether the request may have reached the service anyway.
  struct Reply {
    std::optional<std::string> body;
    bool inDoubt = false;
  };
  // What one attempt of a ladder came to; one in doubt is not made again.
  enum class Attempt { kSucceeded, kFailed, kInDoubt };

  // Each helper below expects operationMutex_ to be held by its caller.

  // The scanner over the whole of a reply, as every operation reads its reply.
  static Text valueInReply(std::string_view key, std::string_view body, std::int8_t endChar);

  // Sends `request` and judges the reply by the gate.
  Reply exchange(const Request& request) const;
  // The reply body when the reply passed the gate.
  std::optional<std::string> replyBody(const Request& request) const {
    return exchange(request).body;
  }
  std::string gvxBody() const;

  // Replaces a session field (token or cookie) under fieldsMutex_.
  void setSessionField(Text& field, Text value);

  bool signInLocked();
  void logOutLocked();
  bool fetchFormTokenLocked();
  bool fetchGvxCookieLocked();
  bool fetchAccountNumberLocked();
  Text accountNumberLocked();
  Attempt sendOnceLocked(const std::string& message, const std::string& recipient);
  Text directAccessNumberLocked(const std::string& targetNumber);

  // Runs `attempt` up to three times, renewing the cookie and the sign-in
  // between attempts; true at the first successful attempt, false at once
  // after an attempt in doubt.
  bool runTokenRefreshLadder(const std::function<Attempt()>& attempt);

  const std::string serviceBaseURL_;
  // The cache has its own lock; it is never taken while operationMutex_ is held.
  AccessNumberCache accessNumberCache_;

  // Held across each operation that talks to the service, and whole ladders.
  std::mutex operationMutex_;
  // Held only while fields are read or replaced; never across a request.
  // May be taken while operationMutex_ is held, never the other way round.
  mutable std::mutex fieldsMutex_;

  // The session, written under both locks (so operations read it under
  // operationMutex_ alone, the diagnostic views under fieldsMutex_):
  Text authToken_;
  Text rnrseToken_;
  Text gvxCookie_;
  // Only ever touched under operationMutex_:
  Text gvPhoneNumber_;
  // Guarded by fieldsMutex_:
  Text userName_;
  Text password_;
  Text iPhoneNumber_;
  bool isiPhoneNumberValid_ = false;
  Text gvBalance_ = "N/A";
  Text callbackNumber_;
  bool isCallbackNumberValid_ = false;
  bool callThisPhone_ = true;
  bool useGoogleTalk_ = false;
  Text phoneType_;
  bool useDataforAccessNumbers_ = true;
};

}  // namespace pelorin
