#include "platform/messaging/fz_message.h"

#include "platform/format.h"

namespace pelorin::platform {

std::shared_ptr<FZMessage> FZMessage::initWithSender(Text sender, Date time, Text body,
                                                     std::optional<Dictionary> attributes,
                                                     std::vector<std::string> fileTransferGUIDs,
                                                     std::uint64_t flags, std::uint32_t error,
                                                     Text guid) {
  return std::make_shared<FZMessage>(Fields{std::move(sender), time, std::move(body),
                                            std::move(attributes), std::move(fileTransferGUIDs),
                                            flags, error, std::move(guid)});
}

bool FZMessage::isEmpty() const {
  return (!fields_.body || fields_.body->empty()) && fields_.fileTransferGUIDs.empty();
}

std::string FZMessage::description() const {
  return format("<FZMessage guid=%@ sender=%@ service=%@ flags=%llu error=%u body=%@ files=%@>",
                fields_.guid, fields_.sender, service_,
                static_cast<unsigned long long>(fields_.flags),
                static_cast<unsigned>(fields_.error), fields_.body, fields_.fileTransferGUIDs);
}

}  // namespace pelorin::platform
