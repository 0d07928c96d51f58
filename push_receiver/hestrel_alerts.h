#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/alerts.h"
#include "platform/text.h"

namespace pelorin {

// What Hestrel tells the user when the settings change: the decisions only,
// free of any object, so each can be checked on its own.
class HestrelAlerts {
 public:
  // The one button of every alert.
  static constexpr std::string_view kDismiss = "Dismiss";

  // The flags a settings change compares, before and after the read.
  struct Flags {
    bool receiveOfficialGV = false;
    bool receiveByMail = false;
    bool intlSMSviaGV = false;
  };

  // The receive-mode alert for a change from `before` to `after`: one when
  // the receive mode (push only, mail only, both, carrier) changed, saying
  // what the new mode needs; none when it stayed the same.
  static std::optional<platform::Alert> receiveModeAlert(const Flags& before, const Flags& after);

  // The number check: when international sending was just switched on, the
  // own number must be a valid US number; otherwise a number that is set
  // must be one.
  static std::optional<platform::Alert> numberAlert(const Flags& before, const Flags& after,
                                                    const Text& iPhoneNumber);

  // The device check: the "Device is iPhone" setting against the model.
  static std::optional<platform::Alert> deviceAlert(const std::string& model, bool isAniPhone);

  // The alerts of one settings change, in the order they are shown: receive
  // mode, number, device (up to three).
  static std::vector<platform::Alert> settingsChangeAlerts(const Flags& before, const Flags& after,
                                                           const Text& iPhoneNumber,
                                                           const std::string& model,
                                                           bool isAniPhone);

  // An alert with the one "Dismiss" button.
  static platform::Alert alert(std::string_view title, std::string_view message);
};

}  // namespace pelorin
