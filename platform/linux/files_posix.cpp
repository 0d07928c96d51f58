#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/files.h"

namespace pelorin::platform {

bool appendToExistingFile(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return false;
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return written == bytes.size();
}

bool createFileIfMissing(const std::string& path) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::optional<std::string> readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return std::move(bytes).str();
}

namespace {

bool writeWhole(int fd, std::string_view bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

// A regular file of the process's user, no longer readable by others.
bool isOwnRegularFile(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return false;
  if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) return false;
  if ((status.st_mode & 077) != 0) ::fchmod(fd, 0600);
  return true;
}

// Creates `path` holding `contents`, 0600. The bytes go into an unnamed file
// in the folder that is then linked at `path`, so nobody sees the file
// without them; where unnamed files are not available it is created with
// O_EXCL and written at once. 0, or the errno (EEXIST: someone was first).
int createWholeFile(const std::string& path, std::string_view contents) {
  std::string folder = std::filesystem::path(path).parent_path().string();
  if (folder.empty()) folder = ".";
  const int unnamed = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (unnamed >= 0) {
    if (!writeWhole(unnamed, contents)) {
      ::close(unnamed);
      return EIO;
    }
    char procPath[64];
    std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", unnamed);
    const int linked = ::linkat(AT_FDCWD, procPath, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
    const int linkError = linked == 0 ? 0 : errno;
    ::close(unnamed);
    // Without /proc the unnamed file cannot be linked: fall back below.
    if (linkError != ENOENT) return linkError;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  const bool whole = writeWhole(fd, contents);
  ::close(fd);
  return whole ? 0 : EIO;
}

}  // namespace

PrivateAppend appendToPrivateFile(const std::string& path, std::string_view header,
                                  std::string_view bytes) {
  // Twice at most: when another process creates the file between our finding
  // it missing and our creating it, we append to theirs.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      const bool appended = isOwnRegularFile(fd) && writeWhole(fd, bytes);
      ::close(fd);
      return appended ? PrivateAppend::kAppended : PrivateAppend::kFailed;
    }
    // A link (ELOOP), a FIFO without reader (ENXIO), no permission...: fail.
    if (errno != ENOENT) return PrivateAppend::kFailed;

    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::string contents;
    contents.reserve(header.size() + bytes.size());
    contents.append(header);
    contents.append(bytes);
    const int created = createWholeFile(path, contents);
    if (created == 0) return PrivateAppend::kCreated;
    if (created != EEXIST) return PrivateAppend::kFailed;
  }
  return PrivateAppend::kFailed;
}

}  // namespace pelorin::platform
