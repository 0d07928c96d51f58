#include "outgoing/quenlow_settings.h"

#include <string>
#include <string_view>

#include "common/logger.h"
#include "common/names.h"
#include "incoming/incoming_message_handler.h"
#include "outgoing/auto_rule_handler.h"
#include "outgoing/outgoing_message_handler.h"
#include "platform/property_list.h"
#include "voice/gv_interface.h"

namespace pelorin {
namespace {

using platform::Dictionary;

const platform::Value* find(const Dictionary& settings, std::string_view key) {
  auto it = settings.find(std::string(key));
  return it == settings.end() ? nullptr : &it->second;
}

// Applies a boolean key only when present.
template <class Setter>
void ifBool(const Dictionary& settings, std::string_view key, Setter&& set) {
  if (const auto* value = find(settings, key)) set(value->boolReading());
}

// A text key: absent (or not a text) reads as nil.
Text text(const Dictionary& settings, std::string_view key) {
  const auto* value = find(settings, key);
  const std::string* string = value ? value->asString() : nullptr;
  return string ? Text(*string) : Text();
}

}  // namespace

QuenlowSettings::Targets QuenlowSettings::sharedTargets() {
  return {.logger = &Logger::sharedInstance(),
          .outgoing = &OutgoingMessageHandler::sharedInstance(),
          .autoRules = &AutoRuleHandler::sharedInstance(),
          .incoming = &IncomingMessageHandler::sharedInstance(),
          .gv = &GVInterface::sharedInstance()};
}

void QuenlowSettings::readSettings() {
  readSettings(sharedTargets());
}

void QuenlowSettings::readSettings(const Targets& targets) {
  const auto settings = platform::readDictionary(resolvedPath(kSettingsFile));
  if (!settings) return;
  applySettings(*settings, targets);
}

void QuenlowSettings::applySettings(const Dictionary& settings, const Targets& targets) {
  namespace key = pelorin::settings;
  if (auto* logger = targets.logger) {
    ifBool(settings, key::kEnableLogging, [&](bool on) { logger->setEnableLogging(on); });
  }
  if (auto* out = targets.outgoing) {
    ifBool(settings, key::kEnableOmniSend, [&](bool on) { out->setEnableOmniDorvessa(on); });
    ifBool(settings, key::kEvalSendRules, [&](bool on) { out->setEnableSendRules(on); });
    if (const auto* mode = find(settings, key::kDefaultSMSSend)) {
      out->setDefaultSMSSendMode(mode->int32Reading());
    }
    ifBool(settings, key::kIntlSMSviaGV, [&](bool on) { out->setEnableIntlSMSDorvessa(on); });
    ifBool(settings, key::kIntliMsgviaGV, [&](bool on) { out->setEnableIntliMsgDorvessa(on); });
    if (auto* autoRules = targets.autoRules) {
      ifBool(settings, key::kEnableAutoRules,
             [&](bool on) { autoRules->setEnableAutoSendRules(on); });
    }
    ifBool(settings, key::kEnableiMessageSendRules,
           [&](bool on) { out->setEnableiMessageRules(on); });
    ifBool(settings, key::kGVSMSviaCarrier, [&](bool on) { out->setGVSMSviaCarrier(on); });
    ifBool(settings, key::kAllGVasSMS, [&](bool on) { out->setAllGVasSMS(on); });
    ifBool(settings, key::kShortCodeviaGV, [&](bool on) { out->setEnableShortCodeonGV(on); });
    out->setSendSignature(text(settings, key::kSendSig));
  }
  if (auto* in = targets.incoming) {
    ifBool(settings, key::kIsAniPhone, [&](bool on) { in->setIsAniPhone(on); });
    if (!in->isAniPhone()) {
      if (targets.autoRules) targets.autoRules->setEnableAutoSendRules(false);
      if (auto* out = targets.outgoing) {
        out->setEnableiMessageRules(true);
        out->setEnableIntliMsgDorvessa(false);
      }
    }
    ifBool(settings, key::kEnableReceiveOfficialGV,
           [&](bool on) { in->setEnableReceiveOfficialGV(on); });
    ifBool(settings, key::kEnableMailReceive, [&](bool on) { in->setEnableReceiveByMail(on); });
    in->setRecvSignature(text(settings, key::kRecvSig));
  }
  if (auto* gv = targets.gv) {
    gv->setUserName(text(settings, key::kUsername));
    gv->setPassword(text(settings, key::kPassword));
    gv->setiPhoneNumber(text(settings, key::kPhoneNumber));
  }
}

bool QuenlowSettings::autoRulesEnabledAfter(const Dictionary& settings, bool wasEnabled,
                                            bool wasAniPhone) {
  bool enabled = wasEnabled;
  bool iPhone = wasAniPhone;
  ifBool(settings, pelorin::settings::kEnableAutoRules, [&](bool on) { enabled = on; });
  ifBool(settings, pelorin::settings::kIsAniPhone, [&](bool on) { iPhone = on; });
  return enabled && iPhone;
}

}  // namespace pelorin
