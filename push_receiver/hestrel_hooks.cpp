#include "push_receiver/hestrel_hooks.h"

#include <atomic>
#include <exception>
#include <mutex>

#include "common/darwin_observer_redirect.h"
#include "common/logger.h"
#include "common/names.h"
#include "incoming/incoming_distributed_message_handler.h"
#include "incoming/incoming_message_handler.h"
#include "platform/alerts.h"
#include "platform/device_model.h"
#include "platform/property_list.h"
#include "platform/runtime.h"
#include "push_receiver/hestrel_alerts.h"
#include "voice/gv_interface.h"

namespace pelorin {
namespace {

using platform::SBRemoteNotificationServer;
namespace runtime = platform::runtime;

using ConnectionPointer =
    runtime::TypedMethod<SBRemoteNotificationServer::DidReceiveIncomingMessage>::Pointer;

// The home screen's previous implementation, saved before the replacement is
// installed and only read afterwards.
std::atomic<ConnectionPointer> savedConnection{nullptr};

// The settings change and the credential check run one at a time, whatever
// thread delivers them: a change that arrives during a sign-in waits for it,
// and compares against the flags as the previous change left them.
std::mutex& callbackMutex() {
  static std::mutex mutex;
  return mutex;
}

HestrelAlerts::Flags currentFlags(const HestrelSettings::Targets& targets) {
  HestrelAlerts::Flags flags;
  if (targets.incoming) {
    flags.receiveOfficialGV = targets.incoming->enableReceiveOfficialGV();
    flags.receiveByMail = targets.incoming->enableReceiveByMail();
  }
  if (targets.intlSMSviaGV) flags.intlSMSviaGV = targets.intlSMSviaGV->load();
  return flags;
}

void settingsChangedCallback(const std::string&) {
  HestrelHooks::settingsChanged(HestrelSettings::sharedTargets());
}

void authCheckCallback(const std::string&) {
  HestrelHooks::checkCredentials(HestrelSettings::sharedTargets());
}

}  // namespace

void HestrelHooks::start() {
  HestrelSettings::readSettings(HestrelSettings::sharedTargets());
  DarwinObserverRedirect::addObserverwithCallback(&settingsChangedCallback, kSettingsNotification);
  DarwinObserverRedirect::addObserverwithCallback(&authCheckCallback, kAuthCheckNotification);
  installHook();
  IncomingDistributedMessageHandler::unlock();
}

bool HestrelHooks::installHook() {
  auto method = runtime::TypedMethod<SBRemoteNotificationServer::DidReceiveIncomingMessage>::find(
      SBRemoteNotificationServer::kClassName,
      SBRemoteNotificationServer::kDidReceiveIncomingMessageSelector);
  if (!method || method->implementation() == &HestrelHooks::connection) return false;
  method->hook(&HestrelHooks::connection, savedConnection);
  return true;
}

void HestrelHooks::settingsChanged(const HestrelSettings::Targets& targets) {
  std::lock_guard lock(callbackMutex());
  const auto before = currentFlags(targets);
  HestrelSettings::readSettings(targets);
  const auto after = currentFlags(targets);
  const Text number = targets.gv ? targets.gv->iPhoneNumber() : Text();
  const bool isAniPhone = targets.incoming ? targets.incoming->isAniPhone() : true;
  for (const auto& alert : HestrelAlerts::settingsChangeAlerts(
           before, after, number, platform::deviceModel(), isAniPhone)) {
    platform::showAlert(alert);
  }
}

void HestrelHooks::checkCredentials(const HestrelSettings::Targets& targets) {
  std::lock_guard lock(callbackMutex());
  const auto settings = platform::readDictionary(resolvedPath(kSettingsFile));
  if (!settings || targets.gv == nullptr) return;
  auto entry = [&](std::string_view key) -> const platform::Value* {
    auto it = settings->find(std::string(key));
    return it == settings->end() ? nullptr : &it->second;
  };
  const auto* authCheck = entry(settings::kAuthCheck);
  if (authCheck == nullptr || !authCheck->boolReading()) {
    targets.gv->logOut();
    return;
  }
  auto text = [&](std::string_view key) -> Text {
    const auto* value = entry(key);
    const std::string* string = value ? value->asString() : nullptr;
    return string ? Text(*string) : Text();
  };
  targets.gv->setUserName(text(settings::kUsername));
  targets.gv->setPassword(text(settings::kPassword));
  const bool valid = targets.gv->getAuthToken();
  platform::showAlert(HestrelAlerts::alert(
      "GV Authentication",
      valid ? "Username and Password are valid"
            : "Invalid Username and/or Password Hint: Use application specific password in case "
              "of two-step authentication"));
}

void HestrelHooks::connection(SBRemoteNotificationServer& self, platform::APSConnection& connection,
                              const std::shared_ptr<const platform::APSIncomingMessage>& message) {
  bool forwarded = false;
  try {
    forwarded =
        message && IncomingMessageHandler::sharedInstance().handleGVPushNotification(*message);
  } catch (const std::exception&) {
    forwarded = false;  // our failure must not lose the push: the home screen shows it
  }
  if (forwarded) return;
  savedConnection.load(std::memory_order_acquire)(self, connection, message);
}

}  // namespace pelorin
