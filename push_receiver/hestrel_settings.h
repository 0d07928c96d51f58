#pragma once

#include <atomic>

#include "platform/value.h"

namespace pelorin {

class GVInterface;
class IncomingMessageHandler;
class Logger;

// Hestrel's settings reader: the home screen's part of the settings file.
class HestrelSettings {
 public:
  // The objects a read configures; a null one is left alone.
  struct Targets {
    Logger* logger = nullptr;
    IncomingMessageHandler* incoming = nullptr;
    GVInterface* gv = nullptr;
    // The library's international-sending flag, read only by its alerts.
    std::atomic<bool>* intlSMSviaGV = nullptr;
  };

  // The process's shared objects (created on first call) and the library's flag.
  static Targets sharedTargets();
  // The library's international-sending flag; false at load.
  static std::atomic<bool>& intlSMSviaGV();

  // Reads the settings file under the root into `targets`; false (and nothing
  // changes) when the file is missing or unreadable.
  static bool readSettings(const Targets& targets);

  // Applies a settings dictionary: logging, push and mail receive, the
  // international-sending flag and the device kind each only when present;
  // the own number always (absent, or not a text, clears it).
  static void applySettings(const platform::Dictionary& settings, const Targets& targets);
};

}  // namespace pelorin
