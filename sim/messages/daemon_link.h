#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/bus_connection.h"

namespace pelorin::sim {

// The Messages host's road to the messaging daemon host: chat messages handed
// to the daemon host's control interface (SendChatMessage) over the session
// bus of the environment. Thread-safe; one call at a time.
class DaemonLink {
 public:
  // `busName` is the daemon host's bus name (and interface).
  explicit DaemonLink(std::string busName);
  DaemonLink(const DaemonLink&) = delete;
  DaemonLink& operator=(const DaemonLink&) = delete;

  struct Result {
    bool sent = false;
    std::string guid;   // the daemon's guid of the message, when sent
    std::string error;  // why not, otherwise
  };

  // Hands a chat message of `service` to the daemon host, which makes the chat
  // when it is missing and sends. Waits only for the daemon's answer (it
  // answers before the send itself runs), at most ten seconds.
  Result sendChatMessage(const std::string& service, const std::string& chatIdentifier,
                         const std::vector<std::string>& participants, const std::string& text,
                         const std::vector<std::string>& attachments);

 private:
  const std::string busName_;
  const std::string objectPath_;
  std::mutex mutex_;
  platform::bus::BusPtr bus_;  // guarded by mutex_; opened on first use, again after a failure
};

}  // namespace pelorin::sim
