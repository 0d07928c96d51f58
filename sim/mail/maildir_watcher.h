#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/run_loop.h"

namespace pelorin::sim {

// Watches a maildir's "new" folder, as a mail reader does: every file that
// is in DIR/new at start or appears there later (written in place or moved
// in, as mail fetchers do) is handed to `deliver` once, on the run loop's
// thread, and then moved to DIR/cur with the ":2," info suffix, so it is
// never delivered again. Names starting with "." are left alone.
class MaildirWatcher {
 public:
  using Deliver = std::function<void(const std::string& path)>;

  // The loop source that does the watching, or nullptr (and `error` says why)
  // when DIR/new cannot be watched. Files already there are delivered the
  // first time the source runs.
  static std::shared_ptr<platform::RunLoop::Source> watch(const std::string& maildir,
                                                          Deliver deliver, std::string* error);
};

}  // namespace pelorin::sim
