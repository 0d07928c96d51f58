#include "rules_editor/pelorin_rules_app_delegate.h"

namespace pelorin::rules_editor {

void PelorinRulesAppDelegate::applicationDidFinishLaunching() {
  rootViewController_.viewDidLoad();
  alert_ = Alert{"Dorvessa Rules",
                 "Rules set in this app override Send switch set via Pelorin preferences/Toggle.",
                 {"Dismiss"}};
}

}  // namespace pelorin::rules_editor
