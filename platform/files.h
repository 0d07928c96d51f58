#pragma once

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

// The whole file, or nullopt when it cannot be read.
std::optional<std::string> readWholeFile(const std::string& path);

}  // namespace pelorin::platform
