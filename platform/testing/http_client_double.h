#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/http_client.h"

namespace pelorin::platform::testing {

// The process's HTTPS client while it lives: a service that never answers.
// Every request is recorded ("METHOD URL") and fails as unsent; while held,
// requests wait until release() (or the double's end).
class HttpClientDouble final : public HttpClient {
 public:
  explicit HttpClientDouble(bool held = false) : held_(held) { setHttpClient(this); }
  ~HttpClientDouble() override {
    release();
    setHttpClient(nullptr);
  }

  HttpOutcome send(const HttpRequest& request) override {
    std::unique_lock lock(mutex_);
    requests_.push_back(request.method + " " + request.url);
    released_.wait(lock, [this] { return !held_; });
    return {};
  }
  std::vector<HttpCookie> cookies() override { return {}; }

  std::vector<std::string> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  void hold() {
    std::lock_guard lock(mutex_);
    held_ = true;
  }
  void release() {
    std::lock_guard lock(mutex_);
    held_ = false;
    released_.notify_all();
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool held_;                          // guarded by mutex_
  std::vector<std::string> requests_;  // guarded by mutex_
};

}  // namespace pelorin::platform::testing
