// Pelorin7: the library the tweak loader loads into the Messages application.
// Its start-up routine is the only thing it exports to the loader.
#include <exception>

#include "messages_hooks/pelorin7_hooks.h"

namespace {

__attribute__((constructor)) void pelorin7Start() {
  try {
    pelorin::Pelorin7Hooks::start();
  } catch (const std::exception&) {
    // A start-up that failed halfway leaves the application working as without us.
  }
}

}  // namespace
