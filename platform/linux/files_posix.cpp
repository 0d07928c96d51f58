#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

}  // namespace pelorin::platform
