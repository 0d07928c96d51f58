#pragma once

#include <string>
#include <string_view>

#include "platform/mail/mail_notifications.h"
#include "platform/messaging/ct_notifications.h"

namespace pelorin {

// Files shared between processes. Each is written whole and atomically by its
// writer and read whole by its readers; paths resolve under the root folder.
inline constexpr std::string_view kSettingsFile =
    "/var/mobile/Library/Preferences/com.talvern.Pelorin.plist";
inline constexpr std::string_view kRulesFile =
    "/var/mobile/Library/Preferences/com.talvern.Pelorin.rules.plist";
inline constexpr std::string_view kAutoRulesFile =
    "/var/mobile/Library/Preferences/com.talvern.Pelorin.auto-rules.plist";
inline constexpr std::string_view kAccessNumberCacheFile =
    "/var/mobile/Library/Preferences/com.talvern.Brenmoor.accessnumber-cache.plist";
inline constexpr std::string_view kLogFile = "/var/tmp/com.talvern.Pelorin7.log.txt";

// The path of one of the files above under the current root folder.
std::string resolvedPath(std::string_view file);

// Keys of the settings file.
namespace settings {
inline constexpr std::string_view kEnableLogging = "enableLogging";
inline constexpr std::string_view kEnableOmniSend = "enableOmniSend";
inline constexpr std::string_view kEvalSendRules = "evalSendRules";
inline constexpr std::string_view kDefaultSMSSend = "defaultSMSSend";
inline constexpr std::string_view kIntlSMSviaGV = "intlSMSviaGV";
inline constexpr std::string_view kIntliMsgviaGV = "intliMsgviaGV";
inline constexpr std::string_view kEnableAutoRules = "enableAutoRules";
inline constexpr std::string_view kEnableiMessageSendRules = "enableiMessageSendRules";
inline constexpr std::string_view kGVSMSviaCarrier = "gvSMSviaCarrier";
inline constexpr std::string_view kAllGVasSMS = "allGVasSMS";
inline constexpr std::string_view kShortCodeviaGV = "shortCodeviaGV";
inline constexpr std::string_view kSendSig = "sendsig";
inline constexpr std::string_view kIsAniPhone = "isAniPhone";
inline constexpr std::string_view kEnableReceiveOfficialGV = "enableReceiveOfficialGV";
inline constexpr std::string_view kEnableMailReceive = "enableMailReceive";
inline constexpr std::string_view kRecvSig = "recvsig";
inline constexpr std::string_view kUsername = "username";
inline constexpr std::string_view kPassword = "password";
inline constexpr std::string_view kPhoneNumber = "phoneNumber";
inline constexpr std::string_view kAuthCheck = "authcheck";
inline constexpr std::string_view kMonitorOptions = "monitorOptions";
inline constexpr std::string_view kMonitoredAccount = "monitoredAccount";
inline constexpr std::string_view kMonitoredLabel = "monitoredLabel";
}  // namespace settings

// System-wide (Darwin) notifications: a name only; observers read a file again.
inline constexpr std::string_view kSettingsNotification = "com.talvern.PelorinSettingsNotification";
inline constexpr std::string_view kAuthCheckNotification =
    "com.talvern.PelorinAuthCheckNotification";
inline constexpr std::string_view kRefreshContactsCacheNotification =
    "com.talvern.PelorinRefreshContactsCacheNotification";
inline constexpr std::string_view kRulesChangedNotification =
    "com.talvern.DorvessaRulesChangedNotification";
inline constexpr std::string_view kAccessNumberCacheChangedNotification =
    "com.talvern.GVAccessNumberCacheChangedNotification";
inline constexpr std::string_view kAutoRulesChangedNotification =
    "com.talvern.AutoDorvessaRulesChangedNotification";

// Process-local notifications of the platform, and their user-info keys.
using platform::kCTMessageIdKey;
using platform::kCTMessageReceivedNotification;
using platform::kCTMessageSendErrorNotification;
using platform::kCTMessageSentNotification;
using platform::kCTMessageTypeKey;
using platform::kMailMessageStoreMessagesAdded;

// The received-SMS centre, its one message and the record's keys.
inline constexpr std::string_view kSMSRecvCenterName = "com.talvern.PelorinSMSRecvCenter";
inline constexpr std::string_view kSMSReceivedMessageName = "SMSReceived";
inline constexpr std::string_view kSMSTextMessageKey = "kSGSMSTextMessageKey";
inline constexpr std::string_view kSMSSenderPhoneKey = "kSGSMSSenderPhoneKey";

}  // namespace pelorin
