#include "sim/web/event_feed.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace pelorin::sim::web {
namespace {

// Where each source's events come from.
constexpr std::pair<const char*, const char*> kSources[] = {
    {"daemon", "type='signal',interface='com.talvern.sim.MessagingDaemon',member='Event'"},
    {"springboard", "type='signal',interface='com.talvern.sim.SpringBoard',member='Event'"},
    {"messages", "type='signal',interface='com.talvern.sim.Messages',member='Event'"},
    {"mail", "type='signal',interface='com.talvern.sim.Mail',member='Event'"},
    {"notify", "type='signal',interface='com.talvern.platform.Notify',member='Post'"},
};

std::string dumped(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::optional<std::vector<std::string>> EventFeed::Queue::take(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, wait, [this] { return closed_ || !lines_.empty(); });
  if (closed_) return std::nullopt;
  std::vector<std::string> lines(std::make_move_iterator(lines_.begin()),
                                 std::make_move_iterator(lines_.end()));
  lines_.clear();
  bytes_ = 0;
  return lines;
}

void EventFeed::Queue::put(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  if (lines_.size() == kMaxQueued || bytes_ + line.size() > kMaxQueuedBytes) {
    closed_ = true;  // fallen behind: the page starts again from a fresh load
    lines_.clear();
  } else {
    lines_.push_back(line);
    bytes_ += line.size();
  }
  changed_.notify_all();
}

void EventFeed::Queue::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  changed_.notify_all();
}

EventFeed::EventFeed(std::function<void()> deviceDown) : deviceDown_(std::move(deviceDown)) {}

EventFeed::~EventFeed() {
  stop();
  if (wake_ >= 0) close(wake_);
}

bool EventFeed::start(const std::string& address, std::string& error) {
  bus_ = platform::bus::openBus(address, &error);
  if (!bus_) return false;
  for (const auto& [name, rule] : kSources) {
    sources_.push_back(std::make_unique<Source>(Source{this, name}));
    const int added =
        sd_bus_add_match(bus_.get(), nullptr, rule, &EventFeed::onSignal, sources_.back().get());
    if (added < 0) {
      error = "cannot subscribe to the device's events: " + platform::bus::errorText(added);
      return false;
    }
  }
  // The matches are in place once the bus has answered a round trip.
  sd_bus_message* reply = nullptr;
  if (const int r = sd_bus_call_method(bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus.Peer", "Ping", nullptr, &reply, "");
      r < 0) {
    error = "the device's bus does not answer: " + platform::bus::errorText(r);
    return false;
  }
  sd_bus_message_unref(reply);
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) {
    error = "cannot make an eventfd";
    return false;
  }
  thread_ = std::thread([this] { run(); });
  return true;
}

void EventFeed::stop() {
  std::list<std::weak_ptr<Queue>> queues;
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    queues.swap(queues_);
  }
  for (auto& weak : queues) {
    if (auto queue = weak.lock()) queue->close();
  }
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    if (write(wake_, &one, sizeof one) < 0) {
      // The thread still leaves when the bus goes; nothing else to do.
    }
    thread_.join();
  }
}

std::shared_ptr<EventFeed::Queue> EventFeed::subscribe() {
  std::lock_guard lock(mutex_);
  queues_.remove_if([](const std::weak_ptr<Queue>& weak) { return weak.expired(); });
  if (stopped_ || queues_.size() >= kMaxSubscribers) return nullptr;
  auto queue = std::make_shared<Queue>();
  queues_.push_back(queue);
  return queue;
}

void EventFeed::publish(const std::string& line) {
  std::vector<std::shared_ptr<Queue>> live;
  {
    std::lock_guard lock(mutex_);
    for (auto it = queues_.begin(); it != queues_.end();) {
      if (auto queue = it->lock()) {
        live.push_back(std::move(queue));
        ++it;
      } else {
        it = queues_.erase(it);
      }
    }
  }
  for (auto& queue : live) queue->put(line);
}

int EventFeed::onSignal(sd_bus_message* message, void* data, sd_bus_error*) {
  const auto* source = static_cast<const Source*>(data);
  const char* text = nullptr;
  if (sd_bus_message_read(message, "s", &text) < 0 || !text) return 0;
  nlohmann::json event;
  if (std::string_view(source->name) == "notify") {
    event = {{"name", text}};
  } else {
    event = nlohmann::json::parse(text, nullptr, false);
    if (event.is_discarded()) return 0;
  }
  source->feed->publish(dumped({{"source", source->name}, {"event", std::move(event)}}));
  return 0;
}

void EventFeed::run() {
  sd_bus* bus = bus_.get();
  for (;;) {
    int processed = 0;
    while ((processed = sd_bus_process(bus, nullptr)) > 0) {
    }
    if (processed < 0) break;
    pollfd fds[2] = {{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0},
                     {wake_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (fds[1].revents) return;  // stopped
  }
  deviceDown_();
}

}  // namespace pelorin::sim::web
