#pragma once

#include "platform/value.h"

namespace pelorin {

class AutoRuleHandler;
class GVInterface;
class IncomingMessageHandler;
class Logger;
class OutgoingMessageHandler;

// Quenlow's settings reader: pushes the settings file into the objects the
// messaging daemon's library decides with. Runs at start-up and on every
// settings notification, on the notification thread.
class QuenlowSettings {
 public:
  // The objects a read configures; a null one is left alone.
  struct Targets {
    Logger* logger = nullptr;
    OutgoingMessageHandler* outgoing = nullptr;
    AutoRuleHandler* autoRules = nullptr;
    IncomingMessageHandler* incoming = nullptr;
    GVInterface* gv = nullptr;
  };

  // The process's shared objects, created on first call.
  static Targets sharedTargets();

  // Reads the settings file under the root into the shared objects; a
  // missing or unreadable file changes nothing.
  static void readSettings();
  static void readSettings(const Targets& targets);

  // Applies a settings dictionary, in the reader's order: logging; the
  // outgoing switches (each only when present; the send signature always);
  // the device kind (when present); on a device that is not an iPhone the
  // automatic rules off, iMessage rules on and international iMessages off,
  // whatever the file said; the receive switches (when present) and the
  // receive signature (always); the account's user name, password and own
  // number (always). Texts of another kind read as absent.
  static void applySettings(const platform::Dictionary& settings, const Targets& targets);

  // Whether the automatic rules end up on after applySettings() of
  // `settings` in a process whose flag was `wasEnabled` before, without
  // touching any rule file.
  static bool autoRulesEnabledAfter(const platform::Dictionary& settings, bool wasEnabled,
                                    bool wasAniPhone);
};

}  // namespace pelorin
