#include "push_receiver/hestrel_settings.h"

#include <string>
#include <string_view>

#include "common/logger.h"
#include "common/names.h"
#include "incoming/incoming_message_handler.h"
#include "platform/property_list.h"
#include "voice/gv_interface.h"

namespace pelorin {
namespace {

using platform::Dictionary;

const platform::Value* find(const Dictionary& settings, std::string_view key) {
  auto it = settings.find(std::string(key));
  return it == settings.end() ? nullptr : &it->second;
}

template <class Setter>
void ifBool(const Dictionary& settings, std::string_view key, Setter&& set) {
  if (const auto* value = find(settings, key)) set(value->boolReading());
}

}  // namespace

HestrelSettings::Targets HestrelSettings::sharedTargets() {
  return {.logger = &Logger::sharedInstance(),
          .incoming = &IncomingMessageHandler::sharedInstance(),
          .gv = &GVInterface::sharedInstance(),
          .intlSMSviaGV = &intlSMSviaGV()};
}

std::atomic<bool>& HestrelSettings::intlSMSviaGV() {
  static std::atomic<bool> flag{false};
  return flag;
}

bool HestrelSettings::readSettings(const Targets& targets) {
  const auto settings = platform::readDictionary(resolvedPath(kSettingsFile));
  if (!settings) return false;
  applySettings(*settings, targets);
  return true;
}

void HestrelSettings::applySettings(const Dictionary& settings, const Targets& targets) {
  namespace key = pelorin::settings;
  if (auto* logger = targets.logger) {
    ifBool(settings, key::kEnableLogging, [&](bool on) { logger->setEnableLogging(on); });
  }
  if (auto* in = targets.incoming) {
    ifBool(settings, key::kEnableReceiveOfficialGV,
           [&](bool on) { in->setEnableReceiveOfficialGV(on); });
    ifBool(settings, key::kEnableMailReceive, [&](bool on) { in->setEnableReceiveByMail(on); });
  }
  if (auto* flag = targets.intlSMSviaGV) {
    ifBool(settings, key::kIntlSMSviaGV, [&](bool on) { flag->store(on); });
  }
  if (auto* in = targets.incoming) {
    ifBool(settings, key::kIsAniPhone, [&](bool on) { in->setIsAniPhone(on); });
  }
  if (auto* gv = targets.gv) {
    const auto* number = find(settings, key::kPhoneNumber);
    const std::string* text = number ? number->asString() : nullptr;
    gv->setiPhoneNumber(text ? Text(*text) : Text());
  }
}

}  // namespace pelorin
