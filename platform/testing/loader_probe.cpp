// A tweak for the loader tests: its start-up routine appends its name to the
// environment variable PELORIN_LOADER_PROBE, so a test sees which tweaks ran
// and in what order.
#include <cstdlib>
#include <string>

namespace {

__attribute__((constructor)) void probeStart() {
  const char* before = std::getenv("PELORIN_LOADER_PROBE");
  std::string loaded = before ? std::string(before) + "," : std::string();
  loaded += PROBE_NAME;
  ::setenv("PELORIN_LOADER_PROBE", loaded.c_str(), 1);
}

}  // namespace
