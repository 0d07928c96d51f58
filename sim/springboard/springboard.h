#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/alerts.h"
#include "platform/springboard/sb_remote_notification_server.h"
#include "platform/value.h"
#include "sim/messaging_daemon/daemon_events.h"
#include "sim/messaging_daemon/recent_items.h"

namespace pelorin::sim {

struct SpringBoardOptions {
  std::string model = "iPhone";
  // Whether the push receiver's method is offered for replacement.
  bool offersPushReceiver = true;
};

// The simulated home screen: its push receiver, whose own handling shows a
// banner, and its alerts. Banners and alerts are reported and the newest of
// each kept (RecentItems); nothing here ever waits on the user.
class SpringBoard final : public platform::SBRemoteNotificationServer,
                          public platform::AlertPresenter {
 public:
  SpringBoard(SpringBoardOptions options, EventReporter report);
  ~SpringBoard() override;

  // Installs the device model, the alert facility and the receiver's class in
  // the process; call before the tweaks are loaded.
  void start();

  // Delivers a push through the (possibly replaced) receiver; true when it
  // reached the home screen's own handling and a banner was shown, false when
  // a tweak swallowed it. Calls are serialised.
  bool deliverPush(const std::string& topic, const platform::Dictionary& userInfo);

  // AlertPresenter: records and reports; any thread.
  void present(const platform::Alert& alert) override;

  // {"title", "message", "buttons"} of each alert shown.
  const RecentItems& alerts() const { return alerts_; }
  // {"topic", "alert"} of each banner shown ("alert" null without a banner text).
  const RecentItems& banners() const { return banners_; }

 protected:
  void platformConnection(
      platform::APSConnection& connection,
      const std::shared_ptr<const platform::APSIncomingMessage>& message) override;

 private:
  const SpringBoardOptions options_;
  const EventReporter report_;
  platform::APSConnection connection_{"production"};

  std::mutex deliverMutex_;  // one push at a time

  RecentItems alerts_;
  RecentItems banners_;
};

}  // namespace pelorin::sim
