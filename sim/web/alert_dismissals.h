#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <utility>

namespace pelorin::sim::web {

// The alerts a person dismissed on the page. The hosts record alerts but
// offer no dismissal, so the web view keeps it: in memory, and as one JSON
// line per dismissal in a 0600 file, {"bus", "host", "index", "button",
// "title"}, which a restarted server reads again and a person or test can
// read. An alert is known by its host and its place in that host's listing;
// lines written for an earlier device (another bus address) are ignored.
// Thread-safe.
class AlertDismissals {
 public:
  // Reads what `file` records for the device on `busAddress`.
  AlertDismissals(std::string file, std::string busAddress);

  // Records the dismissal; false when it could not be written to the file
  // (it is still remembered until the server stops).
  bool dismiss(const std::string& host, std::uint64_t index, const std::string& button,
               const std::string& title);

  bool dismissed(const std::string& host, std::uint64_t index) const;

 private:
  const std::string file_;
  const std::string busAddress_;
  mutable std::mutex mutex_;
  std::set<std::pair<std::string, std::uint64_t>> dismissed_;  // guarded by mutex_
};

}  // namespace pelorin::sim::web
