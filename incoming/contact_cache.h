#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/text.h"

namespace pelorin {

class GVInterface;

// Display names turned into numbers through the user's recent Google Voice
// texts, remembered until reset.
//
// Threads: used by the received-SMS centre's thread and by the thread on
// which the platform asks for incoming messages. One lock guards the
// dictionary; it is never held across a request to the service (the session
// takes its own lock), so two threads may fetch the page for the same name
// at once, and the later answer is kept.
class ContactCache {
 public:
  // The process's cache, asking the process's GVInterface.
  static ContactCache& sharedInstance();

  // A cache of its own asking `voice`, which must outlive it (tests).
  explicit ContactCache(GVInterface& voice) : voice_(voice) {}
  ContactCache(const ContactCache&) = delete;
  ContactCache& operator=(const ContactCache&) = delete;

  // The number for `name` when one valid for SMS is remembered or can be
  // found on the recent-texts page; otherwise `name` itself, unchanged (an
  // absent name at once, without asking the service).
  Text convertToPhoneNumber(const Text& name);

  // Looks `name` up on the recent-texts page (signing in once when the page
  // cannot be had) and remembers what was found; nothing when the page could
  // not be had or does not hold the name. Blocks on the network.
  Text cacheContact(const Text& name);

  // Forgets every name.
  void resetCache();

 private:
  GVInterface& voice_;

  std::mutex lock_;
  std::map<std::string, std::string> dictContactsCache_;  // guarded by lock_
};

}  // namespace pelorin
