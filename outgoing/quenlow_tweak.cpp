// Quenlow: the library the tweak loader loads into the messaging daemon. Its
// start-up routine is the only thing it exports to the loader.
#include <exception>

#include "outgoing/quenlow_hooks.h"

namespace {

__attribute__((constructor)) void quenlowStart() {
  try {
    pelorin::QuenlowHooks::start();
  } catch (const std::exception&) {
    // A start-up that failed halfway leaves the daemon working as without us.
  }
}

}  // namespace
