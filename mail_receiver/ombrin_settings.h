#pragma once

#include <string_view>

#include "platform/value.h"

namespace pelorin {

class IncomingMessageHandler;
class Logger;

// Ombrin's settings reader: pushes the mail filters of the settings file into
// the Mail application's incoming handler. Runs at start-up and, when mail
// receiving was on at start, on every settings notification.
class OmbrinSettings {
 public:
  // The mail provider's domain appended to a Google Voice user name written
  // without one.
  static constexpr std::string_view kMailProviderDomain = "gmail.com";

  struct Targets {
    Logger* logger = nullptr;
    IncomingMessageHandler* incoming = nullptr;
  };

  static Targets sharedTargets();

  // Reads the settings file under the root; a missing or unreadable file
  // changes nothing.
  static void readSettings();
  static void readSettings(const Targets& targets);

  // In order: logging, mail receiving and the account option (each only when
  // present); the watched account by the option now in force (1: the user
  // name, with "@" and the provider's domain when it has no "@"; 2: the
  // chosen account; none when blank; any other option leaves it); last the
  // watched mailbox, always (none when absent or blank).
  static void applySettings(const platform::Dictionary& settings, const Targets& targets);
};

}  // namespace pelorin
