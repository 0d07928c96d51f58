// Pelorin7's replacements as the Messages application reaches them: through
// the object runtime, in front of a conversation whose own sends are recorded.
#include "messages_hooks/pelorin7_hooks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "common/logger.h"
#include "common/names.h"
#include "platform/process_info.h"
#include "platform/property_list.h"
#include "platform/runtime.h"
#include "platform/testing/temporary_root.h"

namespace pelorin::testing {
namespace {

using platform::CKConversation;
using platform::CKMessage;
using platform::CKService;

constexpr char kBundle[] = "com.apple.MobileSMS";
constexpr char kSendLine[] = "CKConversation_sendMessage_newComposition entered with ";
constexpr char kOnServiceLine[] =
    "CKConversation_sendMessage_onService_newComposition entered with ";
constexpr char kEmailLine[] = "Being sent to an email address";
constexpr char kAttachmentLine[] = "Not a simple text message";

// A conversation whose platform sends answer `result` and remember what they got.
class RecordingConversation final : public CKConversation {
 public:
  struct Call {
    std::shared_ptr<CKMessage> message;
    std::shared_ptr<CKService> service;
    bool newComposition = false;
  };

  std::vector<std::string> recipients() const override { return {}; }

  bool result = true;
  std::vector<Call> calls;

 protected:
  bool platformSendMessage(const std::shared_ptr<CKMessage>& message,
                           bool newComposition) override {
    calls.push_back({message, nullptr, newComposition});
    return result;
  }
  bool platformSendMessageOnService(const std::shared_ptr<CKMessage>& message,
                                    const std::shared_ptr<CKService>& service,
                                    bool newComposition) override {
    calls.push_back({message, service, newComposition});
    return result;
  }
};

std::shared_ptr<CKMessage> message(const std::string& service, const std::string& recipient,
                                   bool attachment) {
  return std::make_shared<CKMessage>(
      CKMessage::Fields{.service = service,
                        .recipients = {recipient},
                        .text = "hello",
                        .attachments = attachment ? std::vector<std::string>{"/tmp/picture.jpg"}
                                                  : std::vector<std::string>{}});
}

// The messages of the log file's entries, in order.
std::vector<std::string> loggedMessages(const std::string& file) {
  const std::string separator(40, '*');
  const std::string suffix = std::string("\n\n") + kBundle + "\n\n";
  std::vector<std::string> messages;
  for (std::size_t at = file.find(separator + "\n"); at != std::string::npos;) {
    const std::size_t begin = at + separator.size() + 1;
    const std::size_t end = file.find(suffix, begin);
    if (end == std::string::npos) break;
    messages.push_back(file.substr(begin, end - begin));
    at = file.find(separator + "\n", end);
  }
  return messages;
}

class Pelorin7HooksTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { CKConversation::registerWithRuntime(); }

  void SetUp() override {
    platform::setBundleIdentifier(kBundle);
    // Logging off in the file and in the logger: the start-up turns it on anyway.
    ASSERT_TRUE(platform::writePropertyListAtomically(
        root_.path(std::string(kSettingsFile)),
        platform::Value(platform::Dictionary{{"enableLogging", false}})));
    Logger::sharedInstance().setEnableLogging(false);
    Pelorin7Hooks::start();
  }
  void TearDown() override {
    Logger::sharedInstance().setEnableLogging(false);
    platform::setBundleIdentifier(std::nullopt);
  }

  std::vector<std::string> logged() const {
    return loggedMessages(root_.readFile(std::string(kLogFile)));
  }

  platform::testing::TemporaryRoot root_;
  RecordingConversation conversation_;
};

TEST_F(Pelorin7HooksTest, SendMessageLogsTheKindOfMessageInOrder) {
  struct Case {
    const char* service;
    const char* recipient;
    bool attachment;
    std::vector<std::string> lines;
  };
  const std::string sms = std::string(kSendLine) + "SMS ";
  const std::string iMessage = std::string(kSendLine) + "iMessage ";
  const std::vector<Case> cases = {
      {"SMS", "2125551212", false, {sms}},
      // The e-mail and attachment checks belong to iMessage only.
      {"SMS", "someone@example.com", true, {sms}},
      {"iMessage", "someone@example.com", false, {iMessage, kEmailLine}},
      {"iMessage", "+12125551212", true, {iMessage, kAttachmentLine}},
      {"iMessage", "someone@example.com", true, {iMessage, kEmailLine, kAttachmentLine}},
      {"Jabber", "someone@example.com", true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.service) + " to " + c.recipient);
    root_.writeFile(std::string(kLogFile), "");
    conversation_.sendMessage(message(c.service, c.recipient, c.attachment), false);
    EXPECT_EQ(logged(), c.lines);
  }
}

TEST_F(Pelorin7HooksTest, SendOnServiceLogsTheKindAndTheServiceProperties) {
  const platform::Dictionary properties{{"name", "SMS"}, {"supportsAttachments", true}};
  auto service = std::make_shared<CKService>("SMS", properties);
  const std::string printed =
      std::string("Service properties:\n") + platform::Value(properties).description();
  struct Case {
    const char* service;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"SMS", {std::string(kOnServiceLine) + "SMS ", printed}},
      {"Jabber", {printed}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.service);
    root_.writeFile(std::string(kLogFile), "");
    // An iMessage to an address with an attachment: no further lines on this road.
    conversation_.sendMessage(message(c.service, "someone@example.com", true), service, true);
    EXPECT_EQ(logged(), c.lines);
  }
}

TEST_F(Pelorin7HooksTest, EveryCallReachesThePlatformWithItsArgumentsAndItsResult) {
  auto service = std::make_shared<CKService>("iMessage", platform::Dictionary{});
  conversation_.result = false;
  auto plain = message("SMS", "2125551212", false);
  auto onService = message("iMessage", "+12125551212", true);
  EXPECT_FALSE(conversation_.sendMessage(plain, true));
  EXPECT_FALSE(conversation_.sendMessage(onService, service, false));
  ASSERT_EQ(conversation_.calls.size(), 2u);
  EXPECT_EQ(conversation_.calls[0].message, plain);
  EXPECT_EQ(conversation_.calls[0].service, nullptr);
  EXPECT_TRUE(conversation_.calls[0].newComposition);
  EXPECT_EQ(conversation_.calls[1].message, onService);
  EXPECT_EQ(conversation_.calls[1].service, service);
  EXPECT_FALSE(conversation_.calls[1].newComposition);
  conversation_.calls.clear();
  // Nothing to describe: still passed on, with no type line.
  conversation_.result = true;
  EXPECT_TRUE(conversation_.sendMessage(nullptr, false));
  EXPECT_TRUE(conversation_.sendMessage(nullptr, nullptr, false));
  EXPECT_EQ(conversation_.calls.size(), 2u);
  EXPECT_EQ(Pelorin7Hooks::installHooks(), 0);  // never replaced twice
}

// A platform without the class or one of the sends. Each case runs in a fresh
// process of its own, where the runtime has only what the case registers.
TEST(Pelorin7MissingMethodsTest, LoadsWithoutErrorAndWatchesOnlyWhatExists) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    std::vector<std::string_view> offered;
    std::size_t lines;  // one from the watched send, two from the watched send on service
  };
  const std::vector<Case> cases = {
      {{}, 0},
      {{CKConversation::kSendMessageSelector}, 1},
      {{CKConversation::kSendMessageOnServiceSelector}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offered.size() == 1 ? std::string(c.offered[0]) : "no class");
    EXPECT_EXIT(
        {
          platform::testing::TemporaryRoot root;
          platform::setBundleIdentifier(kBundle);
          if (!c.offered.empty()) {
            CKConversation::registerWithRuntime([&](std::string_view selector) {
              return std::find(c.offered.begin(), c.offered.end(), selector) != c.offered.end();
            });
          }
          Pelorin7Hooks::start();
          // Both sends still work: the one not offered runs the platform's own code.
          RecordingConversation conversation;
          conversation.sendMessage(message("SMS", "2125551212", false), false);
          conversation.sendMessage(message("SMS", "2125551212", false),
                                   std::make_shared<CKService>("SMS", platform::Dictionary{}),
                                   false);
          const bool classFound = platform::runtime::getClass(CKConversation::kClassName);
          const bool ok = conversation.calls.size() == 2 && classFound == !c.offered.empty() &&
                          Pelorin7Hooks::installHooks() == 0 &&
                          loggedMessages(root.readFile(std::string(kLogFile))).size() == c.lines;
          std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
  }
}

}  // namespace
}  // namespace pelorin::testing
