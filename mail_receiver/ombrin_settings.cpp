#include "mail_receiver/ombrin_settings.h"

#include <string>

#include "common/common_utils.h"
#include "common/logger.h"
#include "common/names.h"
#include "incoming/incoming_message_handler.h"
#include "platform/property_list.h"

namespace pelorin {
namespace {

using platform::Dictionary;

const platform::Value* find(const Dictionary& settings, std::string_view key) {
  auto it = settings.find(std::string(key));
  return it == settings.end() ? nullptr : &it->second;
}

// A text key; absent, not a text, empty or all spaces read as none.
Text nonBlankText(const Dictionary& settings, std::string_view key) {
  const auto* value = find(settings, key);
  const std::string* string = value ? value->asString() : nullptr;
  if (!string || CommonUtils::allSpaces(*string)) return std::nullopt;
  return *string;
}

}  // namespace

OmbrinSettings::Targets OmbrinSettings::sharedTargets() {
  return {.logger = &Logger::sharedInstance(),
          .incoming = &IncomingMessageHandler::sharedInstance()};
}

void OmbrinSettings::readSettings() {
  readSettings(sharedTargets());
}

void OmbrinSettings::readSettings(const Targets& targets) {
  const auto settings = platform::readDictionary(resolvedPath(kSettingsFile));
  if (!settings) return;
  applySettings(*settings, targets);
}

void OmbrinSettings::applySettings(const Dictionary& settings, const Targets& targets) {
  namespace key = pelorin::settings;
  if (targets.logger) {
    if (const auto* value = find(settings, key::kEnableLogging)) {
      targets.logger->setEnableLogging(value->boolReading());
    }
  }
  auto* incoming = targets.incoming;
  if (!incoming) return;
  if (const auto* value = find(settings, key::kEnableMailReceive)) {
    incoming->setEnableReceiveByMail(value->boolReading());
  }
  if (const auto* value = find(settings, key::kMonitorOptions)) {
    incoming->setAccountOption(value->int32Reading());
  }
  switch (incoming->accountOption()) {
    case 1: {
      Text account = nonBlankText(settings, key::kUsername);
      if (account && account->find('@') == std::string::npos) {
        *account += "@";
        *account += kMailProviderDomain;
      }
      incoming->setRecvMailAccount(account);
      break;
    }
    case 2:
      incoming->setRecvMailAccount(nonBlankText(settings, key::kMonitoredAccount));
      break;
    default:
      break;  // the account is not consulted
  }
  incoming->setRecvMailLabel(nonBlankText(settings, key::kMonitoredLabel));
}

}  // namespace pelorin
