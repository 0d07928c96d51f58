#include "sim/messaging_daemon/event_sink.h"

namespace pelorin::sim {

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
    json_ = std::fopen(jsonFile.c_str(), "a");
  }
}

EventSink::~EventSink() {
  if (json_ != nullptr && json_ != stdout) std::fclose(json_);
}

void EventSink::publish(std::string json) {
  mainLoop_->perform([this, json = std::move(json)] { emit(json); });
}

void EventSink::emit(const std::string& json) {
  sd_bus_emit_signal(bus_, objectPath_.c_str(), interface_.c_str(), "Event", "s", json.c_str());
  if (json_ != nullptr) {
    std::fprintf(json_, "%s\n", json.c_str());
    std::fflush(json_);
  }
}

}  // namespace pelorin::sim
