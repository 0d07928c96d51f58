#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/value.h"

namespace pelorin::platform {

// Property-list files, as the phone keeps its settings, rules and caches.
// Readers accept both the XML and the binary form; writers produce XML. A file
// that is missing, unreadable, truncated or not a property list reads as
// nothing: bad files are data, never a crash. Paths are full paths (see
// root_path.h); every function may be called from any thread.

// Parses XML or binary property-list bytes; nullopt when they are neither.
std::optional<Value> parsePropertyList(std::span<const std::uint8_t> bytes);

// The XML rendering of `value`, as written to files.
std::string toXmlPropertyList(const Value& value);

// The outcome of reading a property-list file, for callers that must tell a
// person why a file they named could not be used.
struct PropertyListRead {
  std::optional<Value> value;  // the file's contents, when it was read
  bool missing = false;        // nothing exists at the path
  std::string problem;         // when not read: why, for a person
};
PropertyListRead readPropertyListFile(const std::string& path);

// The whole file as a property list, or nullopt (missing and unreadable alike;
// files.h says which files are read at all).
std::optional<Value> readPropertyList(const std::string& path);

// The file when its root is a dictionary (or an array); nullopt when the file
// is missing, unreadable or of another root kind.
std::optional<Dictionary> readDictionary(const std::string& path);
std::optional<Array> readArray(const std::string& path);

// Replaces the file as a whole with the XML form of `value`: the bytes go to a
// temporary file in the same folder, are flushed to disk and renamed over the
// old file, so a reader sees either the old or the new file. Missing parent
// folders are created. The new file has the permissions of the regular file it
// replaces; it is 0600 when there was none (a symbolic link at `path` counts
// as none: the link is replaced, never followed). The umask plays no part.
// Returns false (and leaves the old file) on failure.
// Temporary files left by a writer that was killed are removed by the next
// write of the same file. Takes no lock: a read-modify-write holds the file's
// FileLock (file_lock.h) around the read and this write.
bool writePropertyListAtomically(const std::string& path, const Value& value);

}  // namespace pelorin::platform
