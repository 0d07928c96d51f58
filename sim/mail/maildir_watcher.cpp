#include "sim/mail/maildir_watcher.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>
#include <vector>

#include "sim/mail/mail_file.h"

namespace pelorin::sim {
namespace {

namespace fs = std::filesystem;

// Entries appear by being created (written in place, or hard-linked, which is
// complete at once), closed after writing, or moved in.
constexpr std::uint32_t kWatched = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO;

class Watch final : public platform::RunLoop::Source {
 public:
  Watch(int fd, int newFolder, fs::path maildir, MaildirWatcher::Deliver deliver,
        MaildirWatcher::Refuse refuse)
      : fd_(fd),
        newFolder_(newFolder),
        maildir_(std::move(maildir)),
        deliver_(std::move(deliver)),
        refuse_(std::move(refuse)) {}
  ~Watch() override {
    close(fd_);
    close(newFolder_);
  }

  int fileDescriptor() override { return fd_; }
  int events() override { return kReadable; }
  std::optional<std::chrono::steady_clock::time_point> deadline() override {
    if (scanned_) return std::nullopt;
    return std::chrono::steady_clock::now();
  }

  bool dispatch() override {
    if (!scanned_) {
      scanned_ = true;
      scan();
    }
    alignas(inotify_event) char buffer[8192];
    for (;;) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->mask & IN_Q_OVERFLOW) {
          scan();  // events were lost: whatever is still in new/ was not taken
        } else if (event->len > 0) {
          // A created file may still be being written; its close comes later.
          const bool created = event->mask & IN_CREATE;
          take(event->name,
               created ? MailFile::Writers::kWaitUnlessNone : MailFile::Writers::kWaitForSome);
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return true;
  }

 private:
  // Takes every entry in new/, in name order (fetchers name files by time).
  void scan() {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(maildir_ / "new", error))
      names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    for (const auto& name : names) take(name, MailFile::Writers::kWaitForSome);
  }

  void take(const std::string& name, MailFile::Writers writers) {
    if (name.empty() || name[0] == '.' || leftInNew_.count(name) > 0) return;
    auto file = MailFile::read(newFolder_, name, writers);
    if (file.missing || file.later) return;  // taken already, or not complete yet
    const fs::path from = maildir_ / "new" / name;
    if (!file.bytes) {
      refuse_(from.string(), file.problem, setAside(name));
      return;
    }
    try {
      deliver_(from.string(), *file.bytes);
    } catch (...) {
      // A mail the store refuses is still moved on: it is not retried forever.
    }
    const std::string seen = name.find(':') == std::string::npos ? name + ":2," : name;
    std::error_code error;
    fs::rename(from, maildir_ / "cur" / seen, error);
    if (error) fs::remove(from, error);
  }

  // Moves a refused entry to refused/, never over another; where it is now.
  std::string setAside(const std::string& name) {
    const fs::path to = maildir_ / "refused" / name;
    std::error_code error;
    fs::create_directory(maildir_ / "refused", error);
    const std::string from = (maildir_ / "new" / name).string();
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
      return to.string();
    leftInNew_.insert(name);
    return from;
  }

  const int fd_;
  const int newFolder_;
  const fs::path maildir_;
  const MaildirWatcher::Deliver deliver_;
  const MaildirWatcher::Refuse refuse_;
  bool scanned_ = false;
  std::set<std::string> leftInNew_;  // refused entries that could not be moved
};

}  // namespace

std::shared_ptr<platform::RunLoop::Source> MaildirWatcher::watch(const std::string& maildir,
                                                                 Deliver deliver, Refuse refuse,
                                                                 std::string* error) {
  std::error_code made;
  for (const char* sub : {"new", "cur", "tmp"})
    fs::create_directories(fs::path(maildir) / sub, made);
  // Telling whether a file is still being written takes a lease for a
  // moment; a writer opening it then breaks the lease with SIGIO, whose
  // default would end the host.
  std::signal(SIGIO, SIG_IGN);
  const std::string folder = (fs::path(maildir) / "new").string();
  const int newFolder = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int fd = newFolder < 0 ? -1 : inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0 || inotify_add_watch(fd, folder.c_str(), kWatched) < 0) {
    if (error) *error = folder + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    if (newFolder >= 0) close(newFolder);
    return nullptr;
  }
  return std::make_shared<Watch>(fd, newFolder, fs::path(maildir), std::move(deliver),
                                 std::move(refuse));
}

}  // namespace pelorin::sim
