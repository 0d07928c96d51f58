#include "sim/mail/mail_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace pelorin::sim {
namespace {

// Closes a descriptor on every path.
struct Descriptor {
  explicit Descriptor(int f) : fd(f) {}
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  const int fd;
};

MailFile::Read refused(const std::string& why) {
  return {std::nullopt, false, false, why};
}

std::string tooLarge() {
  return "larger than " + std::to_string(MailFile::kMaxBytes >> 20) + " MiB";
}

enum class Writing { kNo, kYes, kUnknown };

// A read lease is refused (EAGAIN) while any process holds the file open for
// writing; only the file's owner may take one. Taken and given back at once,
// so a writer opening the file meanwhile waits a moment at most (the break
// signal, SIGIO, is ignored by the host).
Writing openForWriting(int fd) {
  if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
    fcntl(fd, F_SETLEASE, F_UNLCK);
    return Writing::kNo;
  }
  return errno == EAGAIN ? Writing::kYes : Writing::kUnknown;
}

bool readLater(int fd, MailFile::Writers writers) {
  switch (writers) {
    case MailFile::Writers::kIgnore:
      return false;
    case MailFile::Writers::kWaitForSome:
      return openForWriting(fd) == Writing::kYes;
    case MailFile::Writers::kWaitUnlessNone:
      return openForWriting(fd) != Writing::kNo;
  }
  return false;
}

const char* kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

}  // namespace

MailFile::Read MailFile::read(int folder, const std::string& name, Writers writers) {
  // Non-blocking, so that opening a FIFO returns at once; no following of a
  // link at the name; no controlling terminal from a terminal device.
  const Descriptor file(
      openat(folder, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
  if (file.fd < 0) {
    if (errno == ENOENT) return {std::nullopt, true, false, "no such file"};
    if (errno == ELOOP) return refused("a symbolic link");
    const std::string why = std::strerror(errno);
    struct stat status {};
    if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(status.st_mode)) {
      return refused(kindOf(status.st_mode));  // a socket, say
    }
    return refused(why);
  }
  struct stat status {};
  if (fstat(file.fd, &status) != 0) return refused(std::strerror(errno));
  if (!S_ISREG(status.st_mode)) return refused(kindOf(status.st_mode));
  if (static_cast<std::uint64_t>(status.st_size) > kMaxBytes) return refused(tooLarge());
  if (readLater(file.fd, writers)) return {std::nullopt, false, true, {}};

  std::string bytes;
  bytes.resize(static_cast<std::size_t>(status.st_size) + 1);
  std::size_t used = 0;
  for (;;) {
    if (used == bytes.size()) {
      if (used > kMaxBytes) return refused(tooLarge());
      bytes.resize(std::min(bytes.size() * 2 + 4096, kMaxBytes + 1));
    }
    const ssize_t n = ::read(file.fd, bytes.data() + used, bytes.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return refused(std::strerror(errno));
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  bytes.resize(used);
  return {std::move(bytes), false, false, {}};
}

}  // namespace pelorin::sim
