// Pelorin7's replacements as the Messages application reaches them: through
// the object runtime, in front of a conversation whose own sends are recorded.
#include "messages_hooks/pelorin7_hooks.h"

#include <gtest/gtest.h>

#include "common/logger.h"
#include "common/names.h"
#include "platform/process_info.h"
#include "platform/property_list.h"
#include "platform/testing/temporary_root.h"

namespace pelorin::testing {
namespace {

using platform::CKConversation;
using platform::CKMessage;
using platform::CKService;

constexpr char kBundle[] = "com.apple.MobileSMS";

// A conversation whose platform sends record what they got and answer with
// the new-composition flag, so both the flag and the answer are seen to pass.
class RecordingConversation final : public CKConversation {
 public:
  using Call = std::pair<std::shared_ptr<CKMessage>, std::shared_ptr<CKService>>;
  std::vector<Call> calls;
  std::vector<std::string> recipients() const override { return {}; }

 protected:
  bool platformSendMessage(const std::shared_ptr<CKMessage>& message, bool fresh) override {
    calls.emplace_back(message, nullptr);
    return fresh;
  }
  bool platformSendMessageOnService(const std::shared_ptr<CKMessage>& message,
                                    const std::shared_ptr<CKService>& service,
                                    bool fresh) override {
    calls.emplace_back(message, service);
    return fresh;
  }
};

std::shared_ptr<CKMessage> message(const char* service, const char* recipient, bool attachment) {
  if (!service) return nullptr;
  return std::make_shared<CKMessage>(CKMessage::Fields{
      .service = service,
      .recipients = {recipient},
      .text = "hello",
      .attachments = std::vector<std::string>(attachment ? 1 : 0, "/tmp/picture.jpg")});
}

// The log's entries of `messages`, as the Messages application writes them.
std::string entries(const std::vector<std::string>& messages) {
  std::string log;
  for (const auto& m : messages) log += std::string(40, '*') + "\n" + m + "\n\n" + kBundle + "\n\n";
  return log;
}

// The platform first offers only the send on a service (the plain send comes
// later, as on an older system): only what exists is replaced, and what is
// added later is replaced by the next installation, never twice.
TEST(Pelorin7HooksTest, EachSendLogsItsKindAndPassesTheCallOnUnchanged) {
  platform::testing::TemporaryRoot root;
  platform::setBundleIdentifier(kBundle);
  CKConversation::registerWithRuntime([](std::string_view selector) {
    return selector == CKConversation::kSendMessageOnServiceSelector;
  });
  // Logging off in the file and in the logger: the start-up turns it on anyway.
  root.writeFile(std::string(kSettingsFile),
                 platform::toXmlPropertyList(platform::Dictionary{{"enableLogging", false}}));
  Logger::sharedInstance().setEnableLogging(false);
  Pelorin7Hooks::start();
  const std::string onService = "CKConversation_sendMessage_onService_newComposition entered with ";
  RecordingConversation conversation;
  root.writeFile(std::string(kLogFile), "");
  conversation.sendMessage(message("SMS", "2125551212", false), false);
  conversation.sendMessage(message("SMS", "2125551212", false), nullptr, false);
  EXPECT_EQ(root.readFile(std::string(kLogFile)),
            entries({onService + "SMS ", "Service properties:\n(null)"}));
  CKConversation::registerWithRuntime();
  EXPECT_EQ(Pelorin7Hooks::installHooks(), 1);

  const platform::Dictionary properties{{"name", "SMS"}, {"supportsAttachments", true}};
  const auto sms = std::make_shared<CKService>("SMS", properties);
  const std::string send = "CKConversation_sendMessage_newComposition entered with ";
  const std::string email = "Being sent to an email address", files = "Not a simple text message";
  const std::string described = "Service properties:\n" + platform::Value(properties).description();
  struct Row {
    bool onService;
    const char *kind, *to;
    bool attachment;
    std::vector<std::string> lines;
  };
  // E-mail and attachment lines belong to iMessage through the plain send only.
  const Row rows[] = {
      {false, "SMS", "2125551212", false, {send + "SMS "}},
      {false, "iMessage", "a@example.com", false, {send + "iMessage ", email}},
      {false, "iMessage", "+12125551212", true, {send + "iMessage ", files}},
      {false, "Jabber", "a@example.com", true, {}},
      {false, nullptr, "", false, {}},
      {true, "SMS", "a@example.com", true, {onService + "SMS ", described}},
      {true, "iMessage", "a@example.com", true, {onService + "iMessage ", described}},
      {true, "Jabber", "a@example.com", true, {described}},
      {true, nullptr, "", false, {"Service properties:\n(null)"}},  // nor a service
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const auto& row = rows[i];
    SCOPED_TRACE(std::string(row.kind ? row.kind : "nothing") + " to " + row.to);
    root.writeFile(std::string(kLogFile), "");
    const bool fresh = i % 2 == 0;
    const auto sent = message(row.kind, row.to, row.attachment);
    const auto service = row.onService && sent ? sms : nullptr;
    EXPECT_EQ(row.onService ? conversation.sendMessage(sent, service, fresh)
                            : conversation.sendMessage(sent, fresh),
              fresh);
    EXPECT_EQ(conversation.calls.back(), RecordingConversation::Call(sent, service));
    EXPECT_EQ(root.readFile(std::string(kLogFile)), entries(row.lines));
  }
  EXPECT_EQ(conversation.calls.size(), std::size(rows) + 2);  // each send reached the platform once
  EXPECT_EQ(Pelorin7Hooks::installHooks(), 0);                // never replaced twice
}

}  // namespace
}  // namespace pelorin::testing
