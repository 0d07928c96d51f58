#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace pelorin::sim {

// Reads mail files for the Mail host, which opens what others name: a
// control caller's path, or an entry that appeared in a maildir.
class MailFile {
 public:
  // Larger mail is refused unread. A text copy is a few kilobytes; this
  // leaves room for ordinary mail with attachments in a fetched maildir.
  static constexpr std::size_t kMaxBytes = std::size_t{32} << 20;

  // Whether a file may still be being written when it is to be read.
  enum class Writers {
    kIgnore,          // read it regardless
    kWaitForSome,     // not while some process holds it open for writing
    kWaitUnlessNone,  // only when no process is known to hold it open for writing
  };

  struct Read {
    std::optional<std::string> bytes;  // the whole file, when it was read
    bool missing = false;              // nothing exists at the name
    bool later = false;                // not read yet: may still be being written
    std::string problem;               // when refused: why, for a person
  };

  // Reads the file named `name`, relative to the open folder `folder`
  // (AT_FDCWD: the current folder; an absolute name ignores it). Only a
  // regular file of at most kMaxBytes is read. A symbolic link at the name is
  // refused, not followed, and so are a FIFO, device, socket or folder,
  // without blocking; never more than kMaxBytes + 1 bytes are read, even
  // from a file that grows meanwhile. Whether a file is open for writing is
  // known for files of the process's user (through a read lease, which the
  // kernel refuses then), and unknown for others.
  static Read read(int folder, const std::string& name, Writers writers = Writers::kIgnore);
};

}  // namespace pelorin::sim
