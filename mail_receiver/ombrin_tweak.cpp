// Ombrin: the library the tweak loader loads into the Mail application. Its
// start-up routine is the only thing it exports to the loader.
#include <exception>

#include "mail_receiver/ombrin_hooks.h"

namespace {

__attribute__((constructor)) void ombrinStart() {
  try {
    pelorin::OmbrinHooks::start();
  } catch (const std::exception&) {
    // A start-up that failed halfway leaves the Mail application working as without us.
  }
}

}  // namespace
