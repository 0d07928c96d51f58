#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/files.h"

namespace pelorin::platform {
namespace {

struct FileDescriptor {
  int fd;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

FileRead unreadable(std::string problem) {
  return FileRead{std::nullopt, false, std::move(problem)};
}

}  // namespace

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

FileRead readFile(const std::string& path) {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  // Links are followed, as a settings file may be one.
  const FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
  if (file.fd < 0) {
    if (errno == ENOENT) return FileRead{std::nullopt, true, "no such file"};
    return unreadable(std::strerror(errno));
  }
  struct stat status {};
  if (::fstat(file.fd, &status) != 0) return unreadable(std::strerror(errno));
  if (S_ISDIR(status.st_mode)) return unreadable("it is a folder");
  if (!S_ISREG(status.st_mode)) return unreadable("it is not a regular file");
  if (static_cast<std::uint64_t>(status.st_size) > kMaxReadableFileSize) {
    return unreadable("it is larger than any file the system writes");
  }
  std::string bytes(static_cast<std::size_t>(status.st_size), '\0');
  std::size_t length = 0;
  for (;;) {
    // One byte more than the limit tells a file that grew past it.
    if (bytes.size() - length < 4096) {
      bytes.resize(std::min<std::size_t>(bytes.size() + 65536, kMaxReadableFileSize + 1));
    }
    if (length == bytes.size()) return unreadable("it is larger than any file the system writes");
    const ssize_t n = ::read(file.fd, bytes.data() + length, bytes.size() - length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return unreadable(std::strerror(errno));
    if (n == 0) break;
    length += static_cast<std::size_t>(n);
  }
  bytes.resize(length);
  return FileRead{std::move(bytes), false, {}};
}

std::optional<std::string> readWholeFile(const std::string& path) {
  return readFile(path).bytes;
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
