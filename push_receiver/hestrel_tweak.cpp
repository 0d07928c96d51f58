// Hestrel: the library the tweak loader loads into the home screen. Its
// start-up routine is the only thing it exports to the loader.
#include <exception>

#include "push_receiver/hestrel_hooks.h"

namespace {

__attribute__((constructor)) void hestrelStart() {
  try {
    pelorin::HestrelHooks::start();
  } catch (const std::exception&) {
    // A start-up that failed halfway leaves the home screen working as without us.
  }
}

}  // namespace
