#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/address_book.h"
#include "rules_editor/pelorin_rule_view_controller.h"
#include "rules_editor/root_view_controller.h"

namespace pelorin::rules_editor {

// The editor application: the list screen with the rule screen behind it,
// and the alert shown on every launch.
class PelorinRulesAppDelegate {
 public:
  struct Alert {
    std::string title;
    std::string message;
    std::vector<std::string> buttons;
  };

  explicit PelorinRulesAppDelegate(platform::AddressBook& addressBook)
      : ruleViewController_(addressBook), rootViewController_(ruleViewController_) {}

  // Loads the list screen and raises the launch alert.
  void applicationDidFinishLaunching();

  // The alert on screen, if any; its one button only closes it.
  const std::optional<Alert>& alert() const { return alert_; }
  void dismissAlert() { alert_.reset(); }

  RootViewController& rootViewController() { return rootViewController_; }
  PelorinRuleViewController& ruleViewController() { return ruleViewController_; }

 private:
  PelorinRuleViewController ruleViewController_;
  RootViewController rootViewController_;
  std::optional<Alert> alert_;
};

}  // namespace pelorin::rules_editor
