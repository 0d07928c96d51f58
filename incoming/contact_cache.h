#pragma once

#include "platform/text.h"

namespace pelorin {

// Display names turned into numbers through the user's recent Google Voice
// texts, remembered until reset.
class ContactCache {
 public:
  static ContactCache& sharedInstance();

  ContactCache() = default;
  ContactCache(const ContactCache&) = delete;
  ContactCache& operator=(const ContactCache&) = delete;

  // Forgets every name.
  void resetCache();
};

}  // namespace pelorin
