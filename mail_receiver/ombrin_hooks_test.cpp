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
#include "platform/testing/notification_recorder.h"
#include "platform/testing/temporary_root.h"

namespace pelorin {
namespace {

using platform::Dictionary;
using platform::MFMailMessage;
using platform::MFMimeBody;

// A store that records the bodies it is given.
class RecordingStore final : public platform::MFMailMessageStore {
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

// One process, in stages: start-up is once per process on the phone, and what
// is installed is never removed.
TEST(OmbrinHooksTest, InstallsOnlyWhenMailReceivingIsOnAtStart) {
  platform::testing::TemporaryRoot root;
  platform::testing::NotificationRecorder notifications;
  auto centres = platform::newInProcessMessagingCenters();
  platform::setMessagingCenters(centres.get());
  auto server =
      platform::CPDistributedMessagingCenter::centerNamed(std::string(kSMSRecvCenterName));
  server->runServerOnCurrentThread();
  std::vector<std::string> delivered;  // "sender: text"
  server->registerForMessageName(
      std::string(kSMSReceivedMessageName), [&](const std::string&, const Dictionary& info) {
        delivered.push_back(*info.at(std::string(kSMSSenderPhoneKey)).asString() + ": " +
                            *info.at(std::string(kSMSTextMessageKey)).asString());
      });
  platform::MFMailMessageStore::registerWithRuntime();
  RecordingStore store;
  auto& handler = IncomingMessageHandler::sharedInstance();
  // Announces the mail, has the store set its body, and lets the centre deliver.
  auto receive = [&](const std::string& id, const std::string& html) {
    platform::localNotifyCenter().postNotificationWithObjects(
        std::string(kMailMessageStoreMessagesAdded), {}, {{"messages", {textMail(id)}}});
    auto given = std::make_shared<MFMimeBody>(
        std::vector<MFMimeBody::HTMLPart>{{"UTF-8", platform::Data(html.begin(), html.end())}});
    EXPECT_EQ(store.setOrGetBody(given, textMail(id), true), given);
    platform::RunLoop::current()->runUntil([] { return false; }, std::chrono::milliseconds(50));
  };
  auto writeSettings = [](const Dictionary& settings, bool notify) {
    ASSERT_TRUE(platform::writePropertyListAtomically(resolvedPath(kSettingsFile), settings));
    if (notify) platform::darwinNotifyCenter().postNotification(std::string(kSettingsNotification));
  };

  // Off at start: nothing is observed or replaced, the settings included.
  writeSettings({{"enableMailReceive", false}, {"monitorOptions", 0}}, false);
  EXPECT_FALSE(OmbrinHooks::start());
  writeSettings({{"enableMailReceive", true}, {"monitorOptions", 0}}, true);
  EXPECT_FALSE(handler.enableReceiveByMail());
  handler.setEnableReceiveByMail(true);
  receive("<one>", "lost<BR>");
  EXPECT_TRUE(delivered.empty());
  handler.setEnableReceiveByMail(false);

  // On at start (a restarted Mail application): the body reaches the centre,
  // and the store still does its own work, each time.
  EXPECT_TRUE(OmbrinHooks::start());
  EXPECT_FALSE(OmbrinHooks::installHooks());  // never saved over itself
  receive("<two>", "Hello<BR>");
  EXPECT_EQ(delivered, std::vector<std::string>{"12125550123: Hello"});

  // Switched off later: the settings are re-read, the hooks stay idle.
  writeSettings({{"enableMailReceive", false}}, true);
  EXPECT_FALSE(handler.enableReceiveByMail());
  receive("<three>", "x<BR>");
  EXPECT_EQ(delivered.size(), 1u);
  EXPECT_EQ(store.seen, (std::vector<std::string>{"<one>", "<two>", "<three>"}));
  platform::setMessagingCenters(nullptr);
}

}  // namespace
}  // namespace pelorin
