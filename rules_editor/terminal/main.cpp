// pelorin-rules: the rules editor in a terminal. The rules file and the
// address book are those under PELORIN_ROOT; saves are announced on the
// session bus.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <clocale>
#include <cstdio>
#include <string>

#include "pelorin/version.h"
#include "platform/address_book.h"
#include "rules_editor/pelorin_rules_app_delegate.h"
#include "rules_editor/terminal/rules_terminal.h"

int main(int argc, char** argv) {
  using namespace pelorin;
  CLI::App command{
      "pelorin-rules: the send rules editor, full screen in a terminal. Edits the rules file "
      "under PELORIN_ROOT, picks prefixes from its address book and tells a running device "
      "after every save. See pelorin-rules(1)."};
  command.set_version_flag("--version", std::string("pelorin-rules ") + kPelorinVersion);
  try {
    command.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = command.exit(e);
    return status == 0 ? 0 : 2;
  }
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
    std::fprintf(stderr,
                 "pelorin-rules: needs a terminal (pelorinctl rules set edits from a script)\n");
    return 1;
  }
  std::setlocale(LC_ALL, "");
  auto addressBook = platform::newSqliteAddressBook();
  rules_editor::PelorinRulesAppDelegate app(*addressBook);
  app.applicationDidFinishLaunching();
  rules_editor::RulesTerminal terminal(app);
  return terminal.run();
}
