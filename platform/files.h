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

}  // namespace pelorin::platform
