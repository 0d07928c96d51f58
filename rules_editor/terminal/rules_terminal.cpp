#include "rules_editor/terminal/rules_terminal.h"

#include <ncurses.h>

#include <algorithm>
#include <string>
#include <vector>

#include "rules_editor/prefix_forms.h"

namespace pelorin::rules_editor {
namespace {

constexpr int kEscape = 27;
constexpr int kTab = '\t';

bool isEnter(int key) {
  return key == '\n' || key == '\r' || key == KEY_ENTER;
}

bool isBackspace(int key) {
  return key == KEY_BACKSPACE || key == 127 || key == 8;
}

// `text` cut or padded to `width` columns, one column per UTF-8 character.
std::string fit(const std::string& text, int width) {
  std::string out;
  int columns = 0;
  for (const char c : text) {
    const bool starts = (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (starts && columns == width) break;
    if (starts) ++columns;
    out += c;
  }
  if (columns < width) out.append(static_cast<std::size_t>(width - columns), ' ');
  return out;
}

int columnsOf(const std::string& text) {
  int columns = 0;
  for (const char c : text) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return columns;
}

// The end of `text` in fewer than `width` columns, leaving room for the cursor.
std::string tail(std::string text, int width) {
  while (!text.empty() && columnsOf(text) >= width) {
    std::size_t cut = 1;
    while (cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) ++cut;
    text.erase(0, cut);
  }
  return text;
}

// One list row: `left` at the start, `right` flush with the end.
std::string rowText(const std::string& left, const std::string& right, int width) {
  const int room = width - static_cast<int>(right.size()) - 1;
  return fit(fit(left, std::max(room, 0)) + " " + right, width);
}

// Words of `text` in lines of at most `width` columns.
std::vector<std::string> wrap(const std::string& text, int width) {
  std::vector<std::string> lines;
  std::string line;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (!line.empty() && static_cast<int>(line.size() + 1 + word.size()) > width) {
      lines.push_back(line);
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    start = end + 1;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// The first row of a window of `height` rows that keeps `selected` visible.
std::size_t firstVisible(std::size_t selected, int height) {
  const auto rows = static_cast<std::size_t>(std::max(height, 1));
  return selected < rows ? 0 : selected - rows + 1;
}

void clampSelection(std::size_t& selected, std::size_t count) {
  if (count == 0) {
    selected = 0;
  } else if (selected >= count) {
    selected = count - 1;
  }
}

}  // namespace

int RulesTerminal::run() {
  if (initscr() == nullptr) return 1;
  cbreak();
  noecho();
  keypad(stdscr, TRUE);
  set_escdelay(25);
  draw();
  while (true) {
    const int key = getch();
    if (key == ERR) continue;
    if (key != KEY_RESIZE && !handleKey(key)) break;
    draw();
  }
  endwin();
  return 0;
}

bool RulesTerminal::handleKey(int key) {
  if (app_.alert()) {
    if (isEnter(key)) app_.dismissAlert();
    return true;
  }
  if (!ruleShown_) {
    if (key == 'q') return false;
    handleListKey(key);
  } else if (app_.ruleViewController().abContactPicker().isPresented()) {
    handlePickerKey(key);
  } else {
    handleRuleKey(key);
  }
  return true;
}

void RulesTerminal::handleListKey(int key) {
  RootViewController& list = app_.rootViewController();
  const std::size_t rows = list.numberOfRowsInSection();
  listNotice_.clear();
  if (key == KEY_UP && listRow_ > 0) {
    --listRow_;
  } else if (key == KEY_DOWN && listRow_ + 1 < rows) {
    ++listRow_;
  } else if (isEnter(key)) {
    if (list.didSelectRowAtIndexPath(listRow_)) {
      ruleShown_ = true;
      focus_ = Focus::kPrefix;
    }
  } else if (key == 'a' && list.rightButtonTitle()) {
    if (!list.btnClicked_add())
      listNotice_ = "The new rule (+) is in the list: open it with Enter.";
    // The new rule is the one selected, so that Enter opens it.
    listRow_ = list.rowForKey(RootViewController::kNewRuleKey).value_or(listRow_);
  } else if (key == 'e') {
    list.btnClicked_edit();
  } else if ((key == 'd' || key == KEY_DC) && list.isEditing()) {
    list.commitEditingStyle(RootViewController::EditingStyle::kDelete, listRow_);
  }
  clampSelection(listRow_, list.numberOfRowsInSection());
}

void RulesTerminal::handleRuleKey(int key) {
  PelorinRuleViewController& rule = app_.ruleViewController();
  if (key == kEscape) {
    ruleShown_ = false;
    const std::string stored = toCanonicalPhoneNumber(rule.prefix());
    app_.rootViewController().willShowViewController(RootViewController::Screen::kList);
    // Keep the stored rule selected, under its possibly new key.
    const auto& rules = app_.rootViewController().dictRules();
    listRow_ = static_cast<std::size_t>(std::distance(rules.begin(), rules.find(stored)));
    return;
  }
  if (key == kTab) {
    focus_ = focus_ == Focus::kPrefix ? Focus::kMode
             : focus_ == Focus::kMode ? Focus::kContacts
                                      : Focus::kPrefix;
  } else if (key == KEY_BTAB) {
    focus_ = focus_ == Focus::kPrefix ? Focus::kContacts
             : focus_ == Focus::kMode ? Focus::kPrefix
                                      : Focus::kMode;
  } else if (focus_ == Focus::kPrefix) {
    if (isBackspace(key)) {
      rule.deleteBackward();
    } else if (key >= 0x20 && key <= 0xFF && key != 0x7F) {
      rule.insertText(std::string(1, static_cast<char>(key)));
    }
  } else if (focus_ == Focus::kMode) {
    if (key == KEY_LEFT) rule.selectSegment(0);
    if (key == KEY_RIGHT) rule.selectSegment(1);
  } else if (focus_ == Focus::kContacts && isEnter(key)) {
    rule.btnClicked_AddContact();
    pickerRow_ = 0;
  }
}

void RulesTerminal::handlePickerKey(int key) {
  PeoplePickerNavigationController& picker = app_.ruleViewController().abContactPicker();
  const bool personShown = picker.shownPerson() != nullptr;
  const std::size_t rows = personShown ? picker.entries().size() : picker.people().size();
  if (key == KEY_UP && pickerRow_ > 0) {
    --pickerRow_;
  } else if (key == KEY_DOWN && pickerRow_ + 1 < rows) {
    ++pickerRow_;
  } else if (key == kEscape) {
    if (personShown) {
      picker.back();
    } else {
      picker.cancel();
    }
    pickerRow_ = 0;
  } else if (isEnter(key) && rows > 0) {
    if (personShown) {
      picker.selectEntry(pickerRow_);
    } else {
      picker.selectPerson(pickerRow_);
      if (picker.shownPerson()) pickerRow_ = 0;
    }
  }
}

void RulesTerminal::draw() {
  erase();
  curs_set(0);
  if (ruleShown_ && app_.ruleViewController().abContactPicker().isPresented()) {
    drawPicker();
  } else if (ruleShown_) {
    drawRule();
  } else {
    drawList();
  }
  if (app_.alert()) drawAlert();
  refresh();
}

void RulesTerminal::drawHeader(const char* left, const char* title, const char* right) {
  attron(A_REVERSE);
  mvaddstr(0, 0, fit("", COLS).c_str());
  mvaddnstr(0, 1, left, std::max(COLS - 1, 0));
  const int titleColumn = std::max(0, (COLS - static_cast<int>(std::string(title).size())) / 2);
  attron(A_BOLD);
  mvaddnstr(0, titleColumn, title, std::max(COLS - titleColumn, 0));
  attroff(A_BOLD);
  const int rightColumn = COLS - static_cast<int>(std::string(right).size()) - 1;
  if (rightColumn > 0) mvaddstr(0, rightColumn, right);
  attroff(A_REVERSE);
}

void RulesTerminal::drawHelp(const char* help) {
  mvaddstr(LINES - 1, 0, fit(help, COLS).c_str());
}

void RulesTerminal::drawList() {
  RootViewController& list = app_.rootViewController();
  const std::string left = "[" + list.leftButtonTitle() + "]";
  const auto add = list.rightButtonTitle();
  drawHeader(left.c_str(), "Rules", add ? ("[" + *add + "]").c_str() : "");

  const std::size_t rows = list.numberOfRowsInSection();
  clampSelection(listRow_, rows);
  const int top = 2;
  const int height = LINES - top - 3;
  if (rows == 0) mvaddstr(top, 2, "No rules. Press a to add one.");
  const std::size_t first = firstVisible(listRow_, height);
  for (std::size_t i = first; i < rows && static_cast<int>(i - first) < height; ++i) {
    const auto cell = list.cellForRowAtIndexPath(i);
    const std::string mark = list.isEditing() ? "(-) " : "";
    const std::string line = rowText(" " + mark + cell.title, cell.detail + "  > ", COLS);
    if (i == listRow_) attron(A_REVERSE);
    mvaddstr(top + static_cast<int>(i - first), 0, line.c_str());
    if (i == listRow_) attroff(A_REVERSE);
  }
  attron(A_BOLD);
  if (list.lastSaveFailed()) {
    mvaddstr(LINES - 2, 0,
             fit(" Rules NOT saved: the rules file could not be written.", COLS).c_str());
  }
  if (!listNotice_.empty()) {
    mvaddstr(LINES - (list.lastSaveFailed() ? 3 : 2), 0, fit(" " + listNotice_, COLS).c_str());
  }
  attroff(A_BOLD);
  drawHelp(list.isEditing() ? " Up/Down select  d delete  e Done  q quit"
                            : " Up/Down select  Enter open  a Add  e Edit  q quit");
}

void RulesTerminal::drawRule() {
  PelorinRuleViewController& rule = app_.ruleViewController();
  drawHeader("< Rules", rule.title().c_str(), "");
  auto marker = [this](Focus focus) { return focus_ == focus ? ">" : " "; };

  mvaddstr(2, 1, marker(Focus::kPrefix));
  mvaddstr(2, 3, "Prefix    [");
  const int fieldWidth = std::max(COLS - 16, 1);
  // The end of a long prefix stays visible, where typing happens.
  const std::string shown = tail(rule.prefix(), fieldWidth);
  attron(A_UNDERLINE);
  addstr(fit(shown, fieldWidth).c_str());
  attroff(A_UNDERLINE);
  addstr("]");

  mvaddstr(4, 1, marker(Focus::kMode));
  mvaddstr(4, 3, "Send via  ");
  // The selected segment is marked in text as well, for terminals without
  // reverse video (and for captured screens).
  const char* segments[] = {"Carrier", "Google Voice"};
  addstr("[");
  for (int segment = 0; segment < 2; ++segment) {
    const bool selected = rule.selectedSegmentIndex() == segment;
    if (segment == 1) addstr("|");
    if (selected) attron(A_REVERSE);
    addstr((selected ? std::string("*") + segments[segment] + "*"
                     : std::string(" ") + segments[segment] + " ")
               .c_str());
    if (selected) attroff(A_REVERSE);
  }
  addstr("]");
  if (rule.selectedSegmentIndex() == PelorinRuleViewController::kNoSegment) {
    const std::string unknown =
        "Mode " + std::to_string(rule.mode()) + " (Unknown): kept unless you choose one.";
    mvaddstr(5, 13, fit(unknown, COLS - 13).c_str());
  }

  mvaddstr(7, 1, marker(Focus::kContacts));
  mvaddstr(7, 3, "");
  if (focus_ == Focus::kContacts) attron(A_REVERSE);
  addstr("[ Contacts ]");
  if (focus_ == Focus::kContacts) attroff(A_REVERSE);

  drawHelp(" Tab next  Left/Right mode  Enter on Contacts: pick  Esc back (saves)");
  if (focus_ == Focus::kPrefix) {
    curs_set(1);
    move(2, 14 + columnsOf(shown));
  }
}

void RulesTerminal::drawPicker() {
  PelorinRuleViewController& rule = app_.ruleViewController();
  PeoplePickerNavigationController& picker = rule.abContactPicker();
  const int top = 2;
  const int height = LINES - top - 3;
  auto drawRows = [&](const std::vector<std::string>& lines) {
    clampSelection(pickerRow_, lines.size());
    const std::size_t first = firstVisible(pickerRow_, height);
    for (std::size_t i = first; i < lines.size() && static_cast<int>(i - first) < height; ++i) {
      if (i == pickerRow_) attron(A_REVERSE);
      mvaddstr(top + static_cast<int>(i - first), 0, fit(" " + lines[i], COLS).c_str());
      if (i == pickerRow_) attroff(A_REVERSE);
    }
  };

  if (const platform::Person* person = picker.shownPerson()) {
    drawHeader("< Contacts", person->name.c_str(), "");
    std::vector<std::string> lines;
    for (const auto& entry : picker.entries()) {
      const char* kind = entry.property == platform::PersonProperty::kPhone ? "phone" : "e-mail";
      lines.push_back(fit(std::string(kind) + " " + entry.value->label, 18) + entry.value->value);
    }
    if (lines.empty()) mvaddstr(top, 2, "No phone numbers or e-mail addresses.");
    drawRows(lines);
    if (rule.pickerNotice()) {
      attron(A_BOLD);
      mvaddstr(LINES - 2, 0, fit(" " + *rule.pickerNotice(), COLS).c_str());
      attroff(A_BOLD);
    }
    drawHelp(" Up/Down select  Enter choose  Esc back to contacts");
    return;
  }
  drawHeader("Cancel", "Contacts", "");
  std::vector<std::string> names;
  for (const auto& person : picker.people()) names.push_back(person.name);
  if (names.empty()) mvaddstr(top, 2, "No contacts.");
  drawRows(names);
  drawHelp(" Up/Down select  Enter choose  Esc cancel");
}

void RulesTerminal::drawAlert() {
  const auto& alert = *app_.alert();
  const int width = std::min(COLS - 2, 52);
  if (width < 12) return;
  const auto message = wrap(alert.message, width - 4);
  const int height = static_cast<int>(message.size()) + 5;
  const int top = std::max(0, (LINES - height) / 2);
  const int left = (COLS - width) / 2;
  for (int y = 0; y < height; ++y) mvaddstr(top + y, left, fit("", width).c_str());
  mvaddch(top, left, ACS_ULCORNER);
  mvhline(top, left + 1, ACS_HLINE, width - 2);
  mvaddch(top, left + width - 1, ACS_URCORNER);
  mvvline(top + 1, left, ACS_VLINE, height - 2);
  mvvline(top + 1, left + width - 1, ACS_VLINE, height - 2);
  mvaddch(top + height - 1, left, ACS_LLCORNER);
  mvhline(top + height - 1, left + 1, ACS_HLINE, width - 2);
  mvaddch(top + height - 1, left + width - 1, ACS_LRCORNER);
  auto centred = [&](int y, const std::string& text) {
    mvaddstr(y, left + std::max(1, (width - static_cast<int>(text.size())) / 2), text.c_str());
  };
  attron(A_BOLD);
  centred(top + 1, alert.title);
  attroff(A_BOLD);
  for (std::size_t i = 0; i < message.size(); ++i)
    centred(top + 2 + static_cast<int>(i), message[i]);
  attron(A_REVERSE);
  centred(top + height - 2, "[ " + alert.buttons.front() + " ]");
  attroff(A_REVERSE);
}

}  // namespace pelorin::rules_editor
