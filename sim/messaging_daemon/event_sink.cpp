#include "sim/messaging_daemon/event_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelorin::sim {
namespace {

// The log holds every text: created 0600, never through a link, and only a
// regular file of the process's user (never a FIFO to block on); an existing
// one readable by others is made 0600.
std::FILE* openPrivateLog(const std::string& path) {
  const int fd = ::open(path.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  struct stat status {};
  const bool own = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                   status.st_uid == ::geteuid() &&
                   ((status.st_mode & 077) == 0 || ::fchmod(fd, 0600) == 0);
  std::FILE* file = own ? ::fdopen(fd, "a") : nullptr;
  if (file == nullptr) ::close(fd);
  return file;
}

}  // namespace

EventSink::EventSink(std::shared_ptr<platform::RunLoop> mainLoop, sd_bus* bus,
                     std::string objectPath, std::string interface, const std::string& jsonFile)
    : mainLoop_(std::move(mainLoop)),
      bus_(bus),
      objectPath_(std::move(objectPath)),
      interface_(std::move(interface)),
      jsonPath_(jsonFile) {
  if (jsonFile == "-") {
    json_ = stdout;
  } else if (!jsonFile.empty()) {
    json_ = openPrivateLog(jsonFile);
  }
}

EventSink::~EventSink() {
  if (json_ != nullptr && json_ != stdout) std::fclose(json_);
}

void EventSink::publish(std::string json) {
  {
    std::lock_guard lock(mutex_);
    const bool now = waiting_ == 0 && std::this_thread::get_id() == mainThread_;
    if (!now) ++waiting_;
    if (now) {
      emit(json);
      return;
    }
  }
  mainLoop_->perform([this, json = std::move(json)] {
    std::lock_guard lock(mutex_);
    emit(json);
    --waiting_;
  });
}

void EventSink::emit(const std::string& json) {
  sd_bus_emit_signal(bus_, objectPath_.c_str(), interface_.c_str(), "Event", "s", json.c_str());
  if (json_ != nullptr) {
    std::fprintf(json_, "%s\n", json.c_str());
    std::fflush(json_);
  }
}

}  // namespace pelorin::sim
