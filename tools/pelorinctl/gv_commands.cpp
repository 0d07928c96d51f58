// pelorinctl gv: the Google Voice client from the command line, with the
// settings file's credentials and own number, for people and scripts.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <memory>

#include "common/common_utils.h"
#include "common/logger.h"
#include "common/names.h"
#include "platform/http_client.h"
#include "platform/json_object.h"
#include "platform/property_list.h"
#include "tools/pelorinctl/commands.h"
#include "voice/gv_interface.h"

namespace pelorin::ctl {

using platform::JsonObject;
namespace gv_detail {

constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kBadUsage = 2;

// Longer than any number a person could dial, however it is written.
constexpr std::size_t kLongestNumberText = 64;

struct GvOptions {
  std::string username;
  std::string password;
  std::string phoneNumber;
  std::string serviceURL;
  std::string caCert;
  bool json = false;
  // Which of the above were given on the command line.
  CLI::Option* usernameFlag = nullptr;
  CLI::Option* passwordFlag = nullptr;
  CLI::Option* phoneNumberFlag = nullptr;
};

Text settingText(const std::optional<platform::Dictionary>& settings, std::string_view key) {
  if (!settings) return std::nullopt;
  const auto it = settings->find(std::string(key));
  if (it == settings->end() || it->second.asString() == nullptr) return std::nullopt;
  return *it->second.asString();
}

Text flagOr(const CLI::Option* flag, const std::string& value, Text fallback) {
  return flag->count() > 0 ? Text(value) : std::move(fallback);
}

// The client as the daemon would hold it: credentials and own number from
// the settings (or the flags), logging as the settings say, and an HTTPS
// client that trusts the configured store.
class GvSession {
 public:
  explicit GvSession(const GvOptions& options)
      : client_(platform::newCurlHttpClient(
            {.trustStoreFile =
                 options.caCert.empty() ? platform::voiceServiceTrustStore() : options.caCert})),
        serviceURL_(options.serviceURL.empty() ? platform::voiceServiceBaseURL()
                                               : options.serviceURL),
        gv_(serviceURL_) {
    platform::setHttpClient(client_.get());
    const std::string settingsPath = resolvedPath(kSettingsFile);
    const auto settings = platform::readDictionary(settingsPath);
    // A settings file that is there but gives no dictionary (unreadable,
    // corrupt, a folder, a link loop) is not the same as no settings.
    std::error_code noEntry;
    if (!settings && std::filesystem::symlink_status(settingsPath, noEntry).type() !=
                         std::filesystem::file_type::not_found) {
      unreadableSettings_ = settingsPath;
    }
    if (settings && settings->contains(std::string(settings::kEnableLogging))) {
      Logger::sharedInstance().setEnableLogging(
          settings->at(std::string(settings::kEnableLogging)).boolReading());
    }
    gv_.setUserName(
        flagOr(options.usernameFlag, options.username, settingText(settings, settings::kUsername)));
    gv_.setPassword(
        flagOr(options.passwordFlag, options.password, settingText(settings, settings::kPassword)));
    gv_.setiPhoneNumber(flagOr(options.phoneNumberFlag, options.phoneNumber,
                               settingText(settings, settings::kPhoneNumber)));
    hasCredentials_ = !CommonUtils::allSpaces(
        flagOr(options.usernameFlag, options.username, settingText(settings, settings::kUsername)));
  }
  ~GvSession() { platform::setHttpClient(nullptr); }
  GvSession(const GvSession&) = delete;
  GvSession& operator=(const GvSession&) = delete;

  GVInterface& gv() { return gv_; }
  bool hasCredentials() const { return hasCredentials_; }
  const std::string& serviceURL() const { return serviceURL_; }
  // The settings file's path when it exists but could not be read.
  const std::optional<std::string>& unreadableSettings() const { return unreadableSettings_; }

 private:
  std::unique_ptr<platform::HttpClient> client_;
  std::string serviceURL_;
  std::optional<std::string> unreadableSettings_;
  GVInterface gv_;
  bool hasCredentials_ = false;
};

int usageError(const std::string& message) {
  std::cerr << "pelorinctl gv: " << message << "\n";
  return kBadUsage;
}

int report(const GvOptions& options, const JsonObject& json, const std::string& line, bool ok) {
  if (options.json) {
    std::cout << json.str() << "\n";
  } else {
    (ok ? std::cout : std::cerr) << line << "\n";
  }
  return ok ? kDone : kRefused;
}

Text canonicalNumber(const std::string& text) {
  if (text.size() > kLongestNumberText || !CommonUtils::isNumberValidforSMS(text)) {
    return std::nullopt;
  }
  return CommonUtils::toCanonicalPhoneNumber(text);
}

int login(const GvOptions& options, GvSession& session) {
  const bool valid = session.gv().getAuthToken();
  return report(options, JsonObject().add("command", "login").add("valid", valid),
                valid ? "credentials valid" : "credentials refused or service unreachable", valid);
}

// Recipient by recipient, stopping at the first failure, as a send worker does.
int send(const GvOptions& options, GvSession& session, const std::vector<std::string>& recipients,
         const std::string& text) {
  std::vector<std::string> numbers;
  for (const auto& recipient : recipients) {
    const Text number = canonicalNumber(recipient);
    if (!number) return usageError("not a number a text can go to: " + recipient);
    numbers.push_back(*number);
  }
  for (const auto& number : numbers) {
    const bool sent = session.gv().sendSMSwithRetry(text, number);
    const int status = report(options, JsonObject().add("to", number).add("sent", sent),
                              (sent ? "sent to " : "could not send to ") + number, sent);
    if (!sent) return status;
  }
  return kDone;
}

int accessNumber(const GvOptions& options, GvSession& session, const std::string& target) {
  const Text number = canonicalNumber(target);
  if (!number) return usageError("not a phone number: " + target);
  session.gv().accessNumberCache().setEnableAccessNumberCache(true);
  const Text access = session.gv().getGVAccessNumberwithRetry(number);
  return report(options,
                JsonObject()
                    .add("target", number)
                    .add("accessNumber", access)
                    .add("balance", session.gv().gvBalance()),
                access ? *number + " -> " + *access : "no access number for " + *number,
                access.has_value());
}

int accountNumber(const GvOptions& options, GvSession& session) {
  const Text number = session.gv().gvPhoneNumber();
  const Text balance = session.gv().gvBalance();
  return report(
      options, JsonObject().add("gvNumber", number).add("balance", balance),
      number ? *number + " balance " + balance.value_or("(none)") : "account number not found",
      number.has_value());
}

int inbox(const GvOptions& options, GvSession& session, const std::string& sender) {
  auto page = session.gv().recvSMS();
  if (!page && session.gv().getAuthToken()) page = session.gv().recvSMS();
  if (!page) return report(options, JsonObject().add("page", Text()), "no recent texts", false);
  if (sender.empty()) return report(options, JsonObject().add("page", *page), *page, true);
  const Text number = GVInterface::parseSMSData(*page, sender);
  return report(options, JsonObject().add("sender", sender).add("number", number),
                number ? *number : "no conversation with " + sender, number.has_value());
}

bool signInWithFormToken(GVInterface& gv) {
  return gv.getAuthToken() && gv.getRNRSE();
}

int callback(const GvOptions& options, GvSession& session, const std::string& target,
             const std::string& forward) {
  const Text canonical = canonicalNumber(target);
  if (!canonical) return usageError("not a phone number: " + target);
  const std::string& number = *canonical;
  GVInterface& gv = session.gv();
  gv.setCallbackNumber(forward);
  const bool connected =
      gv.isCallbackNumberValid() && signInWithFormToken(gv) && gv.setupGVCallback(number);
  return report(options,
                JsonObject()
                    .add("number", number)
                    .add("callbackNumber", gv.callbackNumber())
                    .add("connected", connected),
                connected ? "calling " + gv.callbackNumber().value_or("") + " to connect " + number
                          : "call-back refused",
                connected);
}

int cancelCallback(const GvOptions& options, GvSession& session) {
  const bool cancelled = signInWithFormToken(session.gv()) && session.gv().cancelGVCallback();
  return report(options, JsonObject().add("cancelled", cancelled),
                cancelled ? "call-back cancelled" : "cancel refused", cancelled);
}

int voicemail(const GvOptions& options, GvSession& session) {
  GVInterface& gv = session.gv();
  const auto list = gv.getAuthToken() && gv.getGVXCookie() ? gv.getVoiceMailList() : std::nullopt;
  return report(options, JsonObject().add("voicemail", list),
                list.value_or("voicemail list unavailable"), list.has_value());
}

// Runs `action` with a session when the service URL is https://, the settings
// file is readable or absent, and credentials are known.
template <class Action>
void runWithSession(const std::shared_ptr<GvOptions>& options, Action action) {
  GvSession session(*options);
  if (!platform::isHttpsURL(session.serviceURL())) {
    exitStatus() =
        usageError("the service URL must start with https://: \"" + session.serviceURL() + "\"");
    return;
  }
  if (session.unreadableSettings()) {
    std::cerr << "pelorinctl gv: cannot read the settings file " << *session.unreadableSettings()
              << "\n";
    exitStatus() = kRefused;
    return;
  }
  if (!session.hasCredentials()) {
    exitStatus() = usageError("no user name: set \"username\" in the settings or pass --username");
    return;
  }
  exitStatus() = action(*options, session);
}

void addSessionOptions(CLI::App& gv, GvOptions& options) {
  options.usernameFlag = gv.add_option("--username", options.username,
                                       "Google Voice user name (default: settings \"username\")");
  options.passwordFlag =
      gv.add_option("--password", options.password, "Password (default: settings \"password\")");
  options.phoneNumberFlag = gv.add_option("--phone-number", options.phoneNumber,
                                          "Own phone number (default: settings \"phoneNumber\")");
  gv.add_option("--service-url", options.serviceURL,
                "Service base URL (default: $PELORIN_GV_URL or https://www.google.com)");
  gv.add_option("--cacert", options.caCert,
                "PEM file of certificates to trust (default: $PELORIN_GV_CACERT or the system's)");
  gv.add_flag("--json", options.json, "One JSON object per line");
  // A later flag overrides an earlier one, so a script can add to a base command.
  for (CLI::Option* option : gv.get_options()) {
    option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  }
}

}  // namespace gv_detail

void addGvCommands(CLI::App& app) {
  using namespace gv_detail;
  auto options = std::make_shared<GvOptions>();
  CLI::App* gv = app.add_subcommand("gv", "Talk to the Google Voice service as the tweaks do");
  gv->require_subcommand(1);
  gv->fallthrough();
  addSessionOptions(*gv, *options);

  gv->add_subcommand("login", "Sign in and say whether the credentials are valid")
      ->callback([options] { runWithSession(options, login); });

  auto recipients = std::make_shared<std::vector<std::string>>();
  auto text = std::make_shared<std::string>();
  CLI::App* sendCommand = gv->add_subcommand("send", "Send a text to each recipient in turn");
  sendCommand->add_option("--to", *recipients, "Recipient's number (repeatable)")
      ->required()
      ->allow_extra_args(false);
  sendCommand->add_option("text", *text, "The text")->required();
  sendCommand->callback([options, recipients, text] {
    runWithSession(
        options, [&](const GvOptions& o, GvSession& s) { return send(o, s, *recipients, *text); });
  });

  auto number = std::make_shared<std::string>();
  CLI::App* accessCommand =
      gv->add_subcommand("access-number", "The access number for a target, through the cache");
  accessCommand->add_option("number", *number, "Target number")->required();
  accessCommand->callback([options, number] {
    runWithSession(options,
                   [&](const GvOptions& o, GvSession& s) { return accessNumber(o, s, *number); });
  });

  gv->add_subcommand("number", "The account's Google Voice number and balance")
      ->callback([options] { runWithSession(options, accountNumber); });

  auto sender = std::make_shared<std::string>();
  CLI::App* inboxCommand = gv->add_subcommand("inbox", "The recent texts, or one sender's number");
  inboxCommand->add_option("--sender", *sender, "Display name whose number to find");
  inboxCommand->callback([options, sender] {
    runWithSession(options, [&](const GvOptions& o, GvSession& s) { return inbox(o, s, *sender); });
  });

  auto forward = std::make_shared<std::string>();
  CLI::App* callbackCommand =
      gv->add_subcommand("callback", "Ring a phone and connect it to NUMBER");
  callbackCommand->add_option("number", *number, "Number to call")->required();
  callbackCommand->add_option("--forward", *forward, "Phone to ring (default: own number)");
  callbackCommand->callback([options, number, forward] {
    runWithSession(options, [&](const GvOptions& o, GvSession& s) {
      return callback(o, s, *number, *forward);
    });
  });

  gv->add_subcommand("cancel-callback", "Cancel the call-back in progress")->callback([options] {
    runWithSession(options, cancelCallback);
  });
  gv->add_subcommand("voicemail", "The voicemail list")->callback([options] {
    runWithSession(options, voicemail);
  });
}

}  // namespace pelorin::ctl
