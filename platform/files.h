#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelorin::platform {

// Plain file operations the logic needs beyond property lists. Full paths.

// Appends `bytes` to an existing file in one write. False when the file does
// not exist or cannot be opened for writing; nothing is created then.
bool appendToExistingFile(const std::string& path, std::string_view bytes);

// Creates the file, and any missing parent folder, if it does not exist yet.
// False when it can neither be found nor created.
bool createFileIfMissing(const std::string& path);

// Larger files are never ones the system writes; reading them is refused
// rather than letting a planted file cost the memory it would.
inline constexpr std::uint64_t kMaxReadableFileSize = std::uint64_t{32} << 20;

// The outcome of reading a whole file. Only regular files are read (links are
// followed): a FIFO, device or folder is refused without blocking, as is a
// file above kMaxReadableFileSize.
struct FileRead {
  std::optional<std::string> bytes;  // the whole file, when it was read
  bool missing = false;              // nothing exists at the path
  std::string problem;               // when not read: why, for a person
};
FileRead readFile(const std::string& path);

// The whole file, or nullopt when it cannot be read (see readFile).
std::optional<std::string> readWholeFile(const std::string& path);

// What appendToPrivateFile did.
enum class PrivateAppend {
  kAppended,  // `bytes` added to the end of the existing file
  kCreated,   // the file created holding `header` and `bytes`
  kFailed,    // nothing, or not all of it, written
};

// Appends `bytes` to a file that holds secrets. Never through a symbolic link
// at `path`, and only to a regular file owned by the process's user (an
// existing file readable by others is made 0600). A missing file is created,
// with any missing parent folder, mode 0600, holding `header` then `bytes`;
// it appears with both in it, so among processes racing to create it exactly
// one writes the header. Never blocks on a FIFO. A failed or short write is
// kFailed, never taken for a missing file.
PrivateAppend appendToPrivateFile(const std::string& path, std::string_view header,
                                  std::string_view bytes);

}  // namespace pelorin::platform
