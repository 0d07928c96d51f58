#pragma once

#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/bus_connection.h"

namespace pelorin::sim::web {

// One host's control interface: bus name (= interface) and object path.
struct HostAddress {
  const char* busName;
  const char* path;
  const char* title;  // for messages to a person: "the Messages host"
};

inline constexpr HostAddress kDaemonHost{"com.talvern.sim.MessagingDaemon",
                                         "/com/talvern/sim/MessagingDaemon", "the daemon host"};
inline constexpr HostAddress kSpringBoardHost{"com.talvern.sim.SpringBoard",
                                              "/com/talvern/sim/SpringBoard", "the home screen"};
inline constexpr HostAddress kMessagesHost{"com.talvern.sim.Messages", "/com/talvern/sim/Messages",
                                           "the Messages host"};
inline constexpr HostAddress kMailHost{"com.talvern.sim.Mail", "/com/talvern/sim/Mail",
                                       "the Mail host"};

// The outcome of a call: the reply, or why there is none. `refused` when the
// host answered that the input was bad (the person can fix it), as opposed
// to a host that is not there or failed.
template <typename T>
struct CallResult {
  std::optional<T> value;
  std::string error;
  bool refused = false;
};

// The web server's calls to the hosts' control interfaces: the only way it
// changes or reads the device besides the command-line tools. One bus
// connection, one call at a time; thread-safe.
class DeviceLink {
 public:
  // At most this many items of a listing are read: the newest ones.
  static constexpr std::uint64_t kMaxListed = 10'000;

  // Connects to the bus at `address`; false, with the reason in `error`, when it cannot.
  bool open(const std::string& address, std::string& error);

  // The items of a host's listing `method` (ListMessages, ListAlerts, ...),
  // oldest first, read page by page. A host without that listing has none.
  CallResult<nlohmann::json> list(const HostAddress& host, const char* method);

  // Composes `text` to `recipients` in the Messages host, as typed in the
  // Messages app; true when the conversation's send took it.
  CallResult<bool> send(const std::string& service, const std::vector<std::string>& recipients,
                        const std::string& text);

  // Has the Mail host deliver the mail file at `path` to `account`'s INBOX;
  // the stored message's id.
  CallResult<std::string> deliverMail(const std::string& account, const std::string& path);

 private:
  CallResult<nlohmann::json> page(const HostAddress& host, const char* method,
                                  std::uint64_t offset);
  template <typename T>
  CallResult<T> failure(const HostAddress& host, int code, const sd_bus_error& error);

  std::mutex mutex_;
  platform::bus::BusPtr bus_;  // guarded by mutex_
};

}  // namespace pelorin::sim::web
