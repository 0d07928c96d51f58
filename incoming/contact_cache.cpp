#include "incoming/contact_cache.h"

namespace pelorin {

ContactCache& ContactCache::sharedInstance() {
  static auto* instance = new ContactCache;
  return *instance;
}

void ContactCache::resetCache() {}

}  // namespace pelorin
