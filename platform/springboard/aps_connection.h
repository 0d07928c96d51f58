#pragma once

#include <string>

namespace pelorin::platform {

// The push service's connection through which a push reached the home
// screen. Tweaks pass it on unchanged; only the home screen reads it.
class APSConnection {
 public:
  explicit APSConnection(std::string environment) : environment_(std::move(environment)) {}
  APSConnection(const APSConnection&) = delete;
  APSConnection& operator=(const APSConnection&) = delete;

  const std::string& environment() const { return environment_; }

 private:
  const std::string environment_;
};

}  // namespace pelorin::platform
