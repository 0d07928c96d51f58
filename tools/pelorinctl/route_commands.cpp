// pelorinctl route: how a one-part SMS (or an iMessage) to each number would
// travel, decided by the messaging daemon library's own code with the
// settings, rules and automatic rules under the root. No request is made and
// no file is written: an access-number route is reported without fetching it.
#include <CLI/CLI.hpp>

#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>

#include "common/names.h"
#include "incoming/incoming_message_handler.h"
#include "outgoing/auto_rule_handler.h"
#include "outgoing/outgoing_message_handler.h"
#include "outgoing/quenlow_settings.h"
#include "outgoing/recipient_processor.h"
#include "platform/property_list.h"
#include "platform/root_path.h"
#include "tools/pelorinctl/commands.h"
#include "voice/gv_interface.h"

namespace pelorin::ctl {
namespace route_detail {

using Step = RecipientProcessor::Decision::Step;
using Source = OutgoingMessageHandler::RuleDecision::Source;

struct Options {
  std::vector<std::string> numbers;
  bool json = false;
  bool iMessage = false;
};

const char* modeMeaning(SendMode mode) {
  switch (mode) {
    case SendModeFailed:
      return "fail the send";
    case SendModeCarrier:
      return "the platform sends it";
    case SendModeGoogleVoice:
      return "Google Voice";
    case SendModeGoogleVoiceShortCode:
      return "Google Voice, short code";
    default:
      return "Google Voice (unusual rule value)";
  }
}

// The daemon library's decision objects, configured as its settings reader
// would configure them at start-up from the files under the root. The
// automatic rules are only read (the reader would otherwise empty their file
// on a device that is not an iPhone); logging stays off.
class RouteExplainer {
 public:
  RouteExplainer()
      : handler_({.rulesFile = std::nullopt,
                  .autoRuleHandler = &autoRules_,
                  .incomingMessageHandler = &incoming_,
                  .gvInterface = &gv_}) {
    const auto settings =
        platform::readDictionary(resolvedPath(kSettingsFile)).value_or(platform::Dictionary{});
    QuenlowSettings::applySettings(settings, {.outgoing = &handler_, .incoming = &incoming_});
    if (QuenlowSettings::autoRulesEnabledAfter(settings, false, true)) {
      autoRules_.setEnableAutoSendRules(true);
    }
  }

  nlohmann::ordered_json sms(const std::string& number, std::ostream* explanation) {
    RecipientProcessor processor(handler_);
    RecipientProcessor::Decision decision;
    const SendMode mode = processor.sendModebyPhoneType(number, &decision);
    const bool rules = decision.step == Step::Rules;
    const char* route = processor.needAccessNumbers() ? "carrier-to-access-number"
                        : mode == SendModeCarrier     ? "carrier"
                        : mode == SendModeFailed      ? "failed"
                                                      : "google-voice";
    nlohmann::ordered_json result;
    result["input"] = number;
    result["type"] = numberTypeName(decision.type);
    result["canonical"] = rules ? nlohmann::json(*processor.canonicalPhoneNumber()) : nullptr;
    result["ruleKey"] = rules && decision.rule.source == Source::SendRule
                            ? nlohmann::json(decision.rule.ruleKey.value_or(""))
                            : nullptr;
    result["autoRule"] = rules && decision.rule.source == Source::AutoRule;
    result["mode"] = mode;
    result["route"] = route;
    if (explanation) explain(*explanation, result, processor, decision, mode);
    return result;
  }

  nlohmann::ordered_json iMessage(const std::string& number, std::ostream* explanation) {
    const SendMode mode = handler_.sendModebyPhoneTypeforiMsg(number);
    nlohmann::ordered_json result;
    result["input"] = number;
    result["mode"] = mode;
    if (explanation) {
      *explanation << number << "\n  as an iMessage participant: mode " << mode << " ("
                   << (mode == SendModeCarrier ? "stays an iMessage" : modeMeaning(mode)) << ")\n"
                   << "  iMessage rules are " << (handler_.enableiMessageRules() ? "on" : "off")
                   << (handler_.enableiMessageRules() ? "" : ": every iMessage stays an iMessage")
                   << "\n";
    }
    return result;
  }

 private:
  void explain(std::ostream& out, const nlohmann::ordered_json& result,
               const RecipientProcessor& processor, const RecipientProcessor::Decision& decision,
               SendMode mode) const {
    out << result["input"].get<std::string>() << "\n  type: " << numberTypeName(decision.type)
        << "\n";
    switch (decision.step) {
      case Step::NotANumber:
        out << "  not a number to route: the carrier sends it as it is\n";
        break;
      case Step::InternationalOff:
        out << "  international numbers through Google Voice are off (intlSMSviaGV): carrier\n";
        break;
      case Step::ShortCodeOff:
        out << "  short codes through Google Voice are off (shortCodeviaGV): carrier\n";
        break;
      case Step::Rules:
        out << "  canonical: " << *processor.canonicalPhoneNumber() << "\n  rules: ";
        switch (decision.rule.source) {
          case Source::OmniSend:
            out << "every text through Google Voice is on (enableOmniSend): 1\n";
            break;
          case Source::RulesOff:
            out << "send rules are off (evalSendRules): the default " << decision.ruleMode << "\n";
            break;
          case Source::SendRule:
            out << "send rule \"" << decision.rule.ruleKey.value_or("") << "\" gives "
                << decision.ruleMode << "\n";
            break;
          case Source::AutoRule:
            out << "no send rule; the number wrote through Google Voice (automatic rules): 1\n";
            break;
          case Source::Default:
            out << "no send rule, not in the automatic rules: the default " << decision.ruleMode
                << "\n";
            break;
        }
        break;
    }
    out << "  mode: " << mode << " (" << modeMeaning(mode) << ")\n  route: ";
    const std::string route = result["route"];
    if (route == "carrier-to-access-number") {
      out << "carrier SMS to the number's Google Voice access number"
          << (decision.type == PhoneNumberTypeInternational
                  ? " (international numbers always go this way)"
                  : " (gvSMSviaCarrier)")
          << "; the send fails if none can be had\n";
    } else if (route == "google-voice") {
      out << "sent through the Google Voice web service\n";
    } else if (route == "failed") {
      out << "the send fails\n";
    } else {
      out << "the carrier sends it to the number\n";
    }
  }

  AutoRuleHandler autoRules_;
  IncomingMessageHandler incoming_;
  GVInterface gv_{"https://unused.invalid"};  // asked for nothing
  OutgoingMessageHandler handler_;
};

void explainRoutes(const Options& options) {
  const char* root = std::getenv("PELORIN_ROOT");
  if (root == nullptr || *root == '\0') {
    std::cerr << "pelorinctl: PELORIN_ROOT is not set: the settings and rules under / decide; "
                 "for a device's, run eval \"$(pelorin-sim up ...)\" first\n";
  } else if (!options.json) {
    std::cout << "Settings and rules under " << platform::rootFolder() << "\n";
  }
  RouteExplainer explainer;
  for (const auto& number : options.numbers) {
    std::ostream* explanation = options.json ? nullptr : &std::cout;
    auto result = options.iMessage ? explainer.iMessage(number, explanation)
                                   : explainer.sms(number, explanation);
    if (options.json) std::cout << result.dump() << "\n";
  }
}

}  // namespace route_detail

void addRouteCommands(CLI::App& app) {
  using namespace route_detail;
  auto options = std::make_shared<Options>();
  CLI::App* route = app.add_subcommand(
      "route", "Explain how a one-part SMS to each NUMBER would travel (no request, no file)");
  route->add_flag("--json", options->json, "One JSON object per line, in argument order");
  route->add_flag("--imessage", options->iMessage, "The number's mode as an iMessage participant");
  route->add_option("numbers", options->numbers, "Phone numbers, in any written form")->required();
  route->callback([options] {
    explainRoutes(*options);
    exitStatus() = 0;
  });
}

}  // namespace pelorin::ctl
