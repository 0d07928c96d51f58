#include "push_receiver/hestrel_alerts.h"

#include "common/common_utils.h"

namespace pelorin {

platform::Alert HestrelAlerts::alert(std::string_view title, std::string_view message) {
  return {std::string(title), std::string(message), {std::string(kDismiss)}};
}

std::optional<platform::Alert> HestrelAlerts::receiveModeAlert(const Flags& before,
                                                               const Flags& after) {
  const bool oO = before.receiveOfficialGV;
  const bool oM = before.receiveByMail;
  const bool nO = after.receiveOfficialGV;
  const bool nM = after.receiveByMail;
  if (nO && nM && !(oO && oM)) {
    if (!oM) {
      return alert("SMS Receive via Email",
                   "Default email app should be restarted - Enabling Receive by both Mail app and "
                   "GV App results in duplicate messages in the Messages app");
    }
    return alert("Pelorin Receive",
                 "Enabling Receive by both Mail app and GV App results in duplicate messages in "
                 "the Messages app");
  }
  if (nO && !nM && (oM || !oO)) {
    return alert("SMS Receive via GV app",
                 "Push Notification banners should be enabled for the Official GV App");
  }
  if (nM && !nO && (oO || !oM)) {
    if (!oM) {
      return alert("SMS Receive via Email",
                   "Default email app should be restarted and SMS from GV should be forwarded to "
                   "your email account");
    }
    return alert("SMS Receive via Email", "SMS from GV should be forwarded to your email account");
  }
  if (!nO && !nM && (oO || oM)) {
    return alert("SMS Receive via Carrier",
                 "SMS from GV should be forwarded to your iPhone number - carrier SMS service is "
                 "used");
  }
  return std::nullopt;
}

std::optional<platform::Alert> HestrelAlerts::numberAlert(const Flags& before, const Flags& after,
                                                          const Text& iPhoneNumber) {
  const bool validUS = iPhoneNumber && CommonUtils::isUSPhoneNumber(iPhoneNumber);
  if (!before.intlSMSviaGV && after.intlSMSviaGV) {
    if (validUS) return std::nullopt;
    return alert("Pelorin",
                 "iPhone number is required to send International SMS. Please enter a valid US "
                 "phone number in settings.");
  }
  if (iPhoneNumber && !validUS) {
    return alert("Pelorin", "iPhone Number should be a valid US phone number.");
  }
  return std::nullopt;
}

std::optional<platform::Alert> HestrelAlerts::deviceAlert(const std::string& model,
                                                          bool isAniPhone) {
  const bool phone = model == "iPhone";
  if (phone && !isAniPhone) {
    return alert("Pelorin",
                 "Device appears to be an iPhone. The \"Device is iPhone\" toggle should be ON in "
                 "settings.");
  }
  if (!phone && isAniPhone) {
    return alert("Pelorin",
                 "Device appears not to be an iPhone. The \"Device is iPhone\" toggle should be "
                 "OFF in settings.");
  }
  return std::nullopt;
}

std::vector<platform::Alert> HestrelAlerts::settingsChangeAlerts(const Flags& before,
                                                                 const Flags& after,
                                                                 const Text& iPhoneNumber,
                                                                 const std::string& model,
                                                                 bool isAniPhone) {
  std::vector<platform::Alert> alerts;
  for (auto& one : {receiveModeAlert(before, after), numberAlert(before, after, iPhoneNumber),
                    deviceAlert(model, isAniPhone)}) {
    if (one) alerts.push_back(*one);
  }
  return alerts;
}

}  // namespace pelorin
