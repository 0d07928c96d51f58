#pragma once

#include <memory>
#include <string>

#include "platform/springboard/sb_remote_notification_server.h"
#include "push_receiver/hestrel_settings.h"

namespace pelorin {

// Hestrel's start-up, its two notification callbacks and its replacement of
// the home screen's push receiver. Everything set up here lasts as long as
// the process.
class HestrelHooks {
 public:
  // The start-up routine, run once when the library is loaded: reads the
  // settings, observes the settings and credential-check notifications,
  // replaces the push receiver when the home screen has it, and opens the
  // received-SMS centre's name to the other processes.
  static void start();

  // Replaces the push receiver unless missing or already replaced by this
  // library; true when replaced now.
  static bool installHook();

  // Settings changed: re-reads the settings into `targets` and shows the
  // alerts of the change (receive mode, number, device; up to three, in
  // that order). Runs one at a time with the credential check, so the
  // alerts of a change that arrives during a sign-in are shown afterwards.
  static void settingsChanged(const HestrelSettings::Targets& targets);

  // Credential check: with "authcheck" on, signs in with the stored user
  // name and password (blocking the calling thread) and shows the result;
  // with it off or absent, signs out without an alert. Nothing happens when
  // the settings cannot be read.
  static void checkCredentials(const HestrelSettings::Targets& targets);

  // The replacement: a Google Voice text push is forwarded to the daemon
  // and swallowed; every other push goes on to the home screen's own handling.
  static void connection(platform::SBRemoteNotificationServer& self,
                         platform::APSConnection& connection,
                         const std::shared_ptr<const platform::APSIncomingMessage>& message);
};

}  // namespace pelorin
