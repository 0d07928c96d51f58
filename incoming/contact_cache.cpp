#include "incoming/contact_cache.h"

#include "common/common_utils.h"
#include "common/logger.h"
#include "voice/gv_interface.h"

namespace pelorin {

ContactCache& ContactCache::sharedInstance() {
  static auto* instance = new ContactCache(GVInterface::sharedInstance());
  return *instance;
}

Text ContactCache::convertToPhoneNumber(const Text& name) {
  // No name can match nothing on the page: spare the requests.
  if (!name) return name;
  {
    Text remembered;
    {
      std::lock_guard lock(lock_);
      auto it = dictContactsCache_.find(*name);
      if (it != dictContactsCache_.end()) remembered = it->second;
    }
    // An entry that is no number for texting is kept but never answered from.
    if (remembered && CommonUtils::isNumberValidforSMS(remembered)) return remembered;
  }
  Text found = cacheContact(name);
  return CommonUtils::isNumberValidforSMS(found) ? found : name;
}

Text ContactCache::cacheContact(const Text& name) {
  auto page = voice_.recvSMS();
  if (!page) {
    if (!voice_.getAuthToken()) return std::nullopt;
    page = voice_.recvSMS();
    if (!page) return std::nullopt;
  }
  Text number = GVInterface::parseSMSData(*page, name);
  if (!number || !name) return std::nullopt;
  std::map<std::string, std::string> snapshot;
  {
    std::lock_guard lock(lock_);
    dictContactsCache_.insert_or_assign(*name, *number);
    if (Logger::sharedInstance().enableLogging()) snapshot = dictContactsCache_;
  }
  Logger::log("Contact cache map: %@", snapshot);
  return number;
}

void ContactCache::resetCache() {
  std::lock_guard lock(lock_);
  dictContactsCache_.clear();
}

}  // namespace pelorin
