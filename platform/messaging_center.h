#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/value.h"

namespace pelorin::platform {

// A named cross-process messaging centre: one process serves the name, any
// process may send it a message (a name and a dictionary), without waiting
// for a reply. Objects are shared between their creator and the platform;
// every operation may be called from any thread.
class CPDistributedMessagingCenter {
 public:
  // Stands for the target and selector a message name is registered with: it
  // receives the message name and the user info.
  using Handler = std::function<void(const std::string& messageName, const Dictionary& userInfo)>;

  CPDistributedMessagingCenter() = default;
  CPDistributedMessagingCenter(const CPDistributedMessagingCenter&) = delete;
  CPDistributedMessagingCenter& operator=(const CPDistributedMessagingCenter&) = delete;
  virtual ~CPDistributedMessagingCenter() = default;

  // A centre object for `name`, from the process's provider (see below). Never null.
  static std::shared_ptr<CPDistributedMessagingCenter> centerNamed(const std::string& name);

  virtual const std::string& name() const = 0;

  // Takes the centre's name and serves its messages on the calling thread's
  // RunLoop (run_loop.h): every handler runs there, one message at a time,
  // while that loop runs. False, with a line on standard error, when the name
  // cannot be taken (no bus, or another process serves it); the centre then
  // receives nothing. Serving lasts as long as the thread's loop.
  virtual bool runServerOnCurrentThread() = 0;

  // From now on each message `messageName` that the server receives runs
  // `handler` (in registration order when several are registered). Messages
  // without a handler are dropped. May be called before or after
  // runServerOnCurrentThread().
  virtual void registerForMessageName(const std::string& messageName, Handler handler) = 0;

  // Sends one message to the process serving the name, without waiting for a
  // reply. True when the name had a server and the message left; false
  // otherwise (no server, no bus, a user info that cannot be carried).
  virtual bool sendMessageName(const std::string& messageName, const Dictionary& userInfo) = 0;
};

// Makes the centre objects of a process.
class MessagingCenterProvider {
 public:
  MessagingCenterProvider() = default;
  MessagingCenterProvider(const MessagingCenterProvider&) = delete;
  MessagingCenterProvider& operator=(const MessagingCenterProvider&) = delete;
  virtual ~MessagingCenterProvider() = default;

  virtual std::shared_ptr<CPDistributedMessagingCenter> centerNamed(const std::string& name) = 0;
};

// The process's provider: the session-bus one by default (connecting lazily;
// without a reachable bus servers fail and sends return false). A test may
// install its own (nullptr restores the default); it must outlive its
// installation and every centre it made.
MessagingCenterProvider& messagingCenters();
void setMessagingCenters(MessagingCenterProvider* provider);

// Centres that reach only the same provider, within the process: a message
// is handed to the serving thread's RunLoop, as the bus would.
std::unique_ptr<MessagingCenterProvider> newInProcessMessagingCenters();

}  // namespace pelorin::platform
