// Named messaging centres on a session bus.
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/linux/bus_connection.h"
#include "platform/session_bus.h"

namespace pelorin::platform {
namespace {

constexpr char kCenterInterface[] = "com.talvern.platform.MessagingCenter";

// Handlers by message name, shared by a centre and its server.
class HandlerTable {
 public:
  void add(const std::string& messageName, CPDistributedMessagingCenter::Handler handler) {
    std::lock_guard lock(mutex_);
    handlers_[messageName].push_back(std::move(handler));
  }

  void deliver(const std::string& messageName, const Dictionary& userInfo) {
    std::vector<CPDistributedMessagingCenter::Handler> handlers;
    {
      std::lock_guard lock(mutex_);
      auto it = handlers_.find(messageName);
      if (it != handlers_.end()) handlers = it->second;
    }
    for (const auto& handler : handlers) {
      try {
        handler(messageName, userInfo);
      } catch (...) {
        std::fprintf(stderr, "pelorin: a handler of %s threw; ignored\n", messageName.c_str());
      }
    }
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::vector<CPDistributedMessagingCenter::Handler>> handlers_;  // guarded
};

// The server side: a connection of its own that owns the centre's name and
// is served by the RunLoop of the thread that started it.
class Server {
 public:
  explicit Server(std::shared_ptr<HandlerTable> handlers) : handlers_(std::move(handlers)) {}

  bool start(const Text& address, const std::string& name, const std::string& path) {
    std::string error;
    bus_ = bus::openBus(address, &error);
    if (!bus_) return fail(name, "no bus: " + error);
    int r = sd_bus_add_object_vtable(bus_.get(), nullptr, path.c_str(), kCenterInterface, kVTable,
                                     this);
    if (r >= 0) r = sd_bus_request_name(bus_.get(), name.c_str(), 0);
    if (r < 0) return fail(name, bus::errorText(r));
    return true;
  }

  sd_bus* connection() const { return bus_.get(); }

 private:
  static int onSend(sd_bus_message* message, void* self, sd_bus_error*) {
    const char* messageName = nullptr;
    int r = sd_bus_message_read_basic(message, 's', &messageName);
    if (r < 0) return r;
    auto userInfo = bus::readDictionary(message);
    if (!userInfo) return -EINVAL;
    // Answer first: a caller that does wait (busctl) is not held by the handler.
    sd_bus_reply_method_return(message, nullptr);
    static_cast<Server*>(self)->handlers_->deliver(messageName ? messageName : "", *userInfo);
    return 1;
  }

  static bool fail(const std::string& name, const std::string& why) {
    std::fprintf(stderr, "pelorin: cannot serve messaging centre %s: %s\n", name.c_str(),
                 why.c_str());
    return false;
  }

  static constexpr sd_bus_vtable kVTable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("Send", "sa{sv}", "", &Server::onSend, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_VTABLE_END};

  const std::shared_ptr<HandlerTable> handlers_;
  bus::BusPtr bus_;  // the serving thread's only
};

// One client connection per provider, shared by its centres' sends. Whether
// a centre has an owner is asked of the bus once per centre; from then on the
// bus's NameOwnerChanged signals for that name keep the answer true. They
// are read, without waiting, before each send. A signal may still be on its
// way when an owner has just come, so "no owner" is asked of the bus again
// before a send is given up: only a send that may go out costs nothing.
class ClientConnection {
 public:
  explicit ClientConnection(Text address) : address_(std::move(address)) {}

  bool send(const std::string& center, const std::string& path, const std::string& messageName,
            const Dictionary& userInfo) {
    std::lock_guard lock(mutex_);
    if (!connectLocked() || !hasOwnerLocked(center)) return false;
    sd_bus_message* raw = nullptr;
    int r = sd_bus_message_new_method_call(bus_.get(), &raw, center.c_str(), path.c_str(),
                                           kCenterInterface, "Send");
    bus::MessagePtr message(raw);
    if (r >= 0) r = sd_bus_message_set_expect_reply(raw, 0);
    if (r >= 0) r = sd_bus_message_set_auto_start(raw, 0);
    if (r >= 0) r = sd_bus_message_append_basic(raw, 's', messageName.c_str());
    if (r >= 0) r = bus::appendDictionary(raw, userInfo);
    if (r >= 0) r = sd_bus_send(bus_.get(), raw, nullptr);
    if (r >= 0) r = sd_bus_flush(bus_.get());
    if (r < 0) {
      std::fprintf(stderr, "pelorin: cannot send %s to %s: %s\n", messageName.c_str(),
                   center.c_str(), bus::errorText(r).c_str());
    }
    return r >= 0;
  }

 private:
  bool connectLocked() {
    if (!bus_) bus_ = bus::openBus(address_);
    return bus_ != nullptr;
  }

  // A connection that failed is dropped with what it followed; the next send
  // connects again and asks afresh.
  void dropConnectionLocked() {
    bus_.reset();
    owners_.clear();
  }

  bool hasOwnerLocked(const std::string& center) {
    if (!owners_.contains(center)) {
      // Follow first, then ask: a change between the two is not missed.
      const auto owned = followLocked(center) ? askOwnerLocked(center) : std::nullopt;
      if (!owned) return false;
      owners_[center] = *owned;
    }
    int r = 0;
    while ((r = sd_bus_process(bus_.get(), nullptr)) > 0) {
    }
    if (r < 0) {
      dropConnectionLocked();
      return false;
    }
    if (!owners_[center]) owners_[center] = askOwnerLocked(center).value_or(false);
    return owners_[center];
  }

  bool followLocked(const std::string& center) {
    const std::string rule =
        "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
        "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0=" +
        bus::matchRuleValue(center);
    const int r = sd_bus_add_match(bus_.get(), nullptr, rule.c_str(),
                                   &ClientConnection::onOwnerChanged, this);
    if (r < 0 && sd_bus_is_open(bus_.get()) <= 0) dropConnectionLocked();
    return r >= 0;
  }

  std::optional<bool> askOwnerLocked(const std::string& center) {
    sd_bus_error error{};  // SD_BUS_ERROR_NULL, without its C compound literal
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "NameHasOwner", &error, &reply, "s",
                               center.c_str());
    bus::MessagePtr owned(reply);
    sd_bus_error_free(&error);
    int hasOwner = 0;
    if (r >= 0) r = sd_bus_message_read_basic(reply, 'b', &hasOwner);
    if (r < 0) {
      if (sd_bus_is_open(bus_.get()) <= 0) dropConnectionLocked();
      return std::nullopt;
    }
    return hasOwner != 0;
  }

  // Runs inside sd_bus_process, so with mutex_ held.
  static int onOwnerChanged(sd_bus_message* signal, void* self, sd_bus_error*) {
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(signal, "sss", &name, &oldOwner, &newOwner) < 0 || name == nullptr) {
      return 0;
    }
    static_cast<ClientConnection*>(self)->owners_[name] = newOwner != nullptr && *newOwner != 0;
    return 0;
  }

  const Text address_;
  std::mutex mutex_;
  // Guarded by mutex_:
  bus::BusPtr bus_;
  std::map<std::string, bool> owners_;  // followed centres: whether each has an owner
};

class BusMessagingCenter final : public CPDistributedMessagingCenter {
 public:
  BusMessagingCenter(std::string name, Text address, std::shared_ptr<ClientConnection> client)
      : name_(std::move(name)),
        path_(bus::objectPathForName(name_)),
        address_(std::move(address)),
        client_(std::move(client)) {}

  const std::string& name() const override { return name_; }

  bool runServerOnCurrentThread() override {
    if (!path_) {
      std::fprintf(stderr, "pelorin: %s is not a valid centre name\n", name_.c_str());
      return false;
    }
    auto server = std::make_shared<Server>(handlers_);
    if (!server->start(address_, name_, *path_)) return false;
    RunLoop::current()->addSource(bus::newBusSource(server->connection(), server));
    return true;
  }

  void registerForMessageName(const std::string& messageName, Handler handler) override {
    handlers_->add(messageName, std::move(handler));
  }

  bool sendMessageName(const std::string& messageName, const Dictionary& userInfo) override {
    return path_ && client_->send(name_, *path_, messageName, userInfo);
  }

 private:
  const std::string name_;
  const std::optional<std::string> path_;
  const Text address_;
  const std::shared_ptr<ClientConnection> client_;
  const std::shared_ptr<HandlerTable> handlers_ = std::make_shared<HandlerTable>();
};

class BusMessagingCenters final : public MessagingCenterProvider {
 public:
  explicit BusMessagingCenters(Text address)
      : address_(std::move(address)), client_(std::make_shared<ClientConnection>(address_)) {}

  std::shared_ptr<CPDistributedMessagingCenter> centerNamed(const std::string& name) override {
    return std::make_shared<BusMessagingCenter>(name, address_, client_);
  }

 private:
  const Text address_;
  const std::shared_ptr<ClientConnection> client_;
};

}  // namespace

std::unique_ptr<MessagingCenterProvider> newBusMessagingCenters(Text address) {
  return std::make_unique<BusMessagingCenters>(std::move(address));
}

// The provider behind messagingCenters() unless a test installs another.
MessagingCenterProvider& defaultMessagingCenters() {
  static auto* const provider = newBusMessagingCenters().release();
  return *provider;
}

}  // namespace pelorin::platform
