#pragma once

#include <cstddef>
#include <string>

#include "rules_editor/pelorin_rules_app_delegate.h"

namespace pelorin::rules_editor {

// The editor's screens in a terminal (ncurses): the launch alert, the list,
// the rule screen and the contact picker. It only draws the application's
// state and turns keys into its operations; every decision is the
// application's.
class RulesTerminal {
 public:
  explicit RulesTerminal(PelorinRulesAppDelegate& app) : app_(app) {}
  RulesTerminal(const RulesTerminal&) = delete;
  RulesTerminal& operator=(const RulesTerminal&) = delete;

  // Takes over the terminal until the user quits; 0, or 1 when the terminal
  // could not be used.
  int run();

 private:
  enum class Focus { kPrefix, kMode, kContacts };

  // Each returns false when the program should end.
  bool handleKey(int key);
  void handleListKey(int key);
  void handleRuleKey(int key);
  void handlePickerKey(int key);

  void draw();
  void drawHeader(const char* left, const char* title, const char* right);
  void drawHelp(const char* help);
  void drawList();
  void drawRule();
  void drawPicker();
  void drawAlert();

  PelorinRulesAppDelegate& app_;
  bool ruleShown_ = false;  // the rule screen is on top of the list
  Focus focus_ = Focus::kPrefix;
  std::size_t listRow_ = 0;
  std::string listNotice_;  // said under the list until the next key
  std::size_t pickerRow_ = 0;
};

}  // namespace pelorin::rules_editor
