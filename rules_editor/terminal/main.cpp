// pelorin-rules: the rules editor in a terminal. The rules file and the
// address book are those under PELORIN_ROOT; saves are announced on the
// session bus.
#include <unistd.h>

#include <clocale>
#include <cstdio>

#include "platform/address_book.h"
#include "rules_editor/pelorin_rules_app_delegate.h"
#include "rules_editor/terminal/rules_terminal.h"

int main() {
  using namespace pelorin;
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
    std::fprintf(stderr, "pelorin-rules: needs a terminal\n");
    return 1;
  }
  std::setlocale(LC_ALL, "");
  auto addressBook = platform::newSqliteAddressBook();
  rules_editor::PelorinRulesAppDelegate app(*addressBook);
  app.applicationDidFinishLaunching();
  rules_editor::RulesTerminal terminal(app);
  return terminal.run();
}
