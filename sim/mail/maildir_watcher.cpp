#include "sim/mail/maildir_watcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace pelorin::sim {
namespace {

namespace fs = std::filesystem;

class Watch final : public platform::RunLoop::Source {
 public:
  Watch(int fd, fs::path maildir, MaildirWatcher::Deliver deliver)
      : fd_(fd), maildir_(std::move(maildir)), deliver_(std::move(deliver)) {}
  ~Watch() override { close(fd_); }

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
          take(event->name);
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return true;
  }

 private:
  // Takes every file in new/, in name order (fetchers name files by time).
  void scan() {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(maildir_ / "new", error)) {
      if (entry.is_regular_file(error)) names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) take(name);
  }

  void take(const std::string& name) {
    if (name.empty() || name[0] == '.') return;
    const fs::path from = maildir_ / "new" / name;
    std::error_code error;
    if (!fs::is_regular_file(from, error)) return;  // already taken
    try {
      deliver_(from.string());
    } catch (...) {
      // A mail the store refuses is still moved on: it is not retried forever.
    }
    const std::string seen = name.find(':') == std::string::npos ? name + ":2," : name;
    fs::rename(from, maildir_ / "cur" / seen, error);
    if (error) fs::remove(from, error);
  }

  const int fd_;
  const fs::path maildir_;
  const MaildirWatcher::Deliver deliver_;
  bool scanned_ = false;
};

}  // namespace

std::shared_ptr<platform::RunLoop::Source> MaildirWatcher::watch(const std::string& maildir,
                                                                 Deliver deliver,
                                                                 std::string* error) {
  std::error_code made;
  for (const char* sub : {"new", "cur", "tmp"})
    fs::create_directories(fs::path(maildir) / sub, made);
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return nullptr;
  }
  const std::string folder = (fs::path(maildir) / "new").string();
  if (inotify_add_watch(fd, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
    if (error) *error = folder + ": " + std::strerror(errno);
    close(fd);
    return nullptr;
  }
  return std::make_shared<Watch>(fd, fs::path(maildir), std::move(deliver));
}

}  // namespace pelorin::sim
