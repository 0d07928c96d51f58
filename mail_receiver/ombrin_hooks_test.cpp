// Ombrin's start-up in a process with a mail store registered: nothing is
// installed while mail receiving is off at start; once on, announced text
// mails reach the received-SMS centre when the store sets their bodies.
#include "mail_receiver/ombrin_hooks.h"

#include <gtest/gtest.h>

#include "common/names.h"
#include "incoming/incoming_message_handler.h"
#include "platform/messaging_center.h"
#include "platform/property_list.h"
#include "platform/run_loop.h"
#include "platform/runtime.h"
#include "platform/testing/notification_recorder.h"
#include "platform/testing/temporary_root.h"

namespace pelorin {
namespace {

using namespace std::chrono_literals;
using platform::Dictionary;
using platform::MFMailMessage;
using platform::MFMailMessageStore;
using platform::MFMimeBody;

// A store that records the bodies it is given.
class RecordingStore final : public MFMailMessageStore {
 public:
  std::vector<std::string> seen;

 protected:
  std::shared_ptr<MFMimeBody> platformSetOrGetBody(const std::shared_ptr<MFMimeBody>& body,
                                                   const std::shared_ptr<MFMailMessage>& message,
                                                   bool) override {
    seen.push_back(message->messageID().value_or("?"));
    return body;
  }
};

std::shared_ptr<MFMailMessage> textMail(const std::string& id) {
  return std::make_shared<MFMailMessage>(
      MFMailMessage::Fields{.messageID = id,
                            .firstSender = "15550001111.12125550123.k@txt.voice.google.com",
                            .account = std::make_shared<platform::MFMailAccount>("ann@gmail.com"),
                            .mailbox = std::make_shared<platform::MFMailbox>("INBOX")});
}

std::shared_ptr<MFMimeBody> body(const std::string& html) {
  return std::make_shared<MFMimeBody>(
      std::vector<MFMimeBody::HTMLPart>{{"UTF-8", platform::Data(html.begin(), html.end())}});
}

class OmbrinHooksTest : public ::testing::Test {
 protected:
  OmbrinHooksTest() {
    server_->runServerOnCurrentThread();
    server_->registerForMessageName(
        std::string(kSMSReceivedMessageName),
        [this](const std::string&, const Dictionary& info) { delivered_.push_back(info); });
    MFMailMessageStore::registerWithRuntime();
  }

  void writeSettings(const Dictionary& settings) {
    ASSERT_TRUE(platform::writePropertyListAtomically(resolvedPath(kSettingsFile), settings));
  }

  void announce(const std::shared_ptr<MFMailMessage>& message) {
    platform::localNotifyCenter().postNotificationWithObjects(
        std::string(kMailMessageStoreMessagesAdded), {}, {{"messages", {message}}});
  }

  std::size_t forwardedCount() {
    platform::RunLoop::current()->runUntil([] { return false; }, 50ms);
    return delivered_.size();
  }

  static bool replaced() {
    auto method = platform::runtime::TypedMethod<MFMailMessageStore::SetOrGetBody>::find(
        MFMailMessageStore::kClassName, MFMailMessageStore::kSetOrGetBodySelector);
    return method && method->implementation() == &OmbrinHooks::setOrGetBody;
  }

  platform::testing::TemporaryRoot root_;
  platform::testing::NotificationRecorder notifications_;
  std::unique_ptr<platform::MessagingCenterProvider> centres_ =
      platform::newInProcessMessagingCenters();
  struct Installed {
    explicit Installed(platform::MessagingCenterProvider* p) { platform::setMessagingCenters(p); }
    ~Installed() { platform::setMessagingCenters(nullptr); }
  } installed_{centres_.get()};
  std::shared_ptr<platform::CPDistributedMessagingCenter> server_ =
      platform::CPDistributedMessagingCenter::centerNamed(std::string(kSMSRecvCenterName));
  std::vector<Dictionary> delivered_;
  RecordingStore store_;
};

// One process, in stages: start-up is once per process on the phone, and what
// is installed is never removed.
TEST_F(OmbrinHooksTest, InstallsOnlyWhenMailReceivingIsOnAtStart) {
  auto& handler = IncomingMessageHandler::sharedInstance();

  // Stage 1: off at start. Nothing is observed or replaced, settings included.
  writeSettings({{"enableMailReceive", false}, {"monitorOptions", 0}});
  EXPECT_FALSE(OmbrinHooks::start());
  EXPECT_FALSE(replaced());
  writeSettings({{"enableMailReceive", true}, {"monitorOptions", 0}});
  platform::darwinNotifyCenter().postNotification(std::string(kSettingsNotification));
  EXPECT_FALSE(handler.enableReceiveByMail());
  handler.setEnableReceiveByMail(true);
  announce(textMail("<one>"));
  EXPECT_TRUE(handler.recvdMailMessageIDList().empty());
  store_.setOrGetBody(body("lost<BR>"), textMail("<one>"), false);
  EXPECT_EQ(forwardedCount(), 0u);
  handler.setEnableReceiveByMail(false);

  // Stage 2: on at start (a restarted Mail application). The body reaches
  // the centre, the store still does its own work, and only once.
  EXPECT_TRUE(OmbrinHooks::start());
  EXPECT_TRUE(replaced());
  EXPECT_FALSE(OmbrinHooks::installHooks());  // never saved over itself
  announce(textMail("<two>"));
  announce(textMail("<two>"));
  auto first = body("Hello<BR>");
  EXPECT_EQ(store_.setOrGetBody(first, textMail("<two>"), true), first);
  store_.setOrGetBody(body("Hello<BR>"), textMail("<two>"), true);
  ASSERT_EQ(forwardedCount(), 1u);
  EXPECT_EQ(*delivered_[0].at(std::string(kSMSTextMessageKey)).asString(), "Hello");
  EXPECT_EQ(*delivered_[0].at(std::string(kSMSSenderPhoneKey)).asString(), "12125550123");
  EXPECT_EQ(store_.seen, (std::vector<std::string>{"<one>", "<two>", "<two>"}));

  // Stage 3: switched off later: the settings are re-read, hooks stay idle.
  writeSettings({{"enableMailReceive", false}});
  platform::darwinNotifyCenter().postNotification(std::string(kSettingsNotification));
  EXPECT_FALSE(handler.enableReceiveByMail());
  announce(textMail("<three>"));
  store_.setOrGetBody(body("x<BR>"), textMail("<three>"), true);
  EXPECT_EQ(forwardedCount(), 1u);
}

}  // namespace
}  // namespace pelorin
