#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/run_loop.h"

namespace pelorin::sim {

// Watches a maildir's "new" folder, as a mail reader does: every file that
// is in DIR/new at start or appears there later (written in place, moved in,
// or hard-linked in, as mail fetchers and delivery agents do) is read and
// handed to `deliver` once, on the run loop's thread, and then moved to
// DIR/cur with the ":2," info suffix, so it is never delivered again. A file
// still open for writing waits until it is closed; a hard link, complete when
// it appears, is taken at once (for files of the host's user: of another
// user's file the host cannot tell, so a created one waits for its close, a
// move, or the next start). Names starting with "." are left alone.
//
// Only regular files inside the maildir are read: a symbolic link (never
// followed), FIFO, device, socket, folder, an unreadable file or one larger
// than MailFile::kMaxBytes is refused: handed to `refuse` with why, and
// moved to DIR/refused (made when first needed) for a person to look at, or,
// when that fails, left in DIR/new and not taken again while the host runs.
class MaildirWatcher {
 public:
  using Deliver = std::function<void(const std::string& path, const std::string& bytes)>;
  // `path` where it appeared, `why` it was refused, `keptAt` where it is now.
  using Refuse = std::function<void(const std::string& path, const std::string& why,
                                    const std::string& keptAt)>;

  // The loop source that does the watching, or nullptr (and `error` says why)
  // when DIR/new cannot be watched. Files already there are delivered the
  // first time the source runs. Sets SIGIO to be ignored (see MailFile).
  static std::shared_ptr<platform::RunLoop::Source> watch(const std::string& maildir,
                                                          Deliver deliver, Refuse refuse,
                                                          std::string* error);
};

}  // namespace pelorin::sim
