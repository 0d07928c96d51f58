// Pushes as the home screen hands them to the receiver: any alert text (or a
// value of another kind where the text belongs). A text is forwarded exactly
// when it begins "Text from ", and its sender and text put back together give
// the alert again, cut at the first ":\n" only.
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "common/names.h"
#include "incoming/incoming_distributed_message_handler.h"
#include "incoming/incoming_message_handler.h"
#include "platform/aps_incoming_message.h"
#include "platform/messaging_center.h"

namespace {

using pelorin::platform::Dictionary;
using pelorin::platform::Value;

void require(bool condition) {
  if (!condition) std::abort();
}

// Keeps the record a send would carry to the daemon.
class CapturingCentre final : public pelorin::platform::CPDistributedMessagingCenter {
 public:
  const std::string& name() const override { return name_; }
  bool runServerOnCurrentThread() override { return false; }
  void registerForMessageName(const std::string&, Handler) override {}
  bool sendMessageName(const std::string&, const Dictionary& userInfo) override {
    record = userInfo;
    return true;
  }

  std::optional<Dictionary> record;

 private:
  const std::string name_{pelorin::kSMSRecvCenterName};
};

std::string entry(const Dictionary& record, std::string_view key) {
  const auto it = record.find(std::string(key));
  require(it != record.end() && it->second.asString() != nullptr);
  return *it->second.asString();
}

// The alert in one of the shapes a push may carry it; only the first is text.
Value alertOfShape(std::uint8_t shape, const std::string& text) {
  switch (shape % 4) {
    case 1:
      return Value(pelorin::platform::Data(text.begin(), text.end()));
    case 2:
      return Value(Dictionary{{"body", text}});
    case 3:
      return Value(static_cast<std::int64_t>(text.size()));
    default:
      return Value(text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto centre = std::make_shared<CapturingCentre>();
  static auto* const client = new pelorin::IncomingDistributedMessageHandler(centre);
  static auto* const handler = [] {
    auto* made = new pelorin::IncomingMessageHandler({.centreClient = client});
    made->setEnableReceiveOfficialGV(true);
    return made;
  }();
  if (size == 0) return 0;
  const std::string alert(reinterpret_cast<const char*>(data + 1), size - 1);
  const bool asText = data[0] % 4 == 0;
  const pelorin::platform::APSIncomingMessage push(
      "com.google.GVDialer",
      Dictionary{{"aps", Dictionary{{"alert", alertOfShape(data[0], alert)}}}});

  centre->record.reset();
  const bool forwarded = handler->handleGVPushNotification(push);
  require(forwarded == (asText && alert.starts_with("Text from ")));
  require(forwarded == centre->record.has_value());
  if (!forwarded) return 0;

  const std::string sender = entry(*centre->record, pelorin::kSMSSenderPhoneKey);
  const std::string text = entry(*centre->record, pelorin::kSMSTextMessageKey);
  if (alert.find(":\n") == std::string::npos) {
    require(sender == "10000000000" && "Text from " + text == alert);
  } else {
    require(sender.find(":\n") == std::string::npos);
    require("Text from " + sender + ":\n" + text == alert);
  }
  return 0;
}
