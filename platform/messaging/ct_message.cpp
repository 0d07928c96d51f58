#include "platform/messaging/ct_message.h"

namespace pelorin::platform {

void CTMessage::addText(const Text& text) {
  if (!text) return;
  items_.emplace_back("text/plain", Data(text->begin(), text->end()));
}

bool CTMessage::removePartAtIndex(std::size_t index) {
  if (index >= items_.size()) return false;
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

void CTMessage::setRecipient(std::shared_ptr<CTPhoneNumber> recipient) {
  recipients_.clear();
  recipients_.push_back(std::move(recipient));
}

void CTMessage::addRecipient(std::shared_ptr<CTPhoneNumber> recipient) {
  recipients_.push_back(std::move(recipient));
}

std::string CTMessage::text() const {
  std::string joined;
  for (const auto& item : items_) joined.append(item.data().begin(), item.data().end());
  return joined;
}

}  // namespace pelorin::platform
