// The mail road: text from a text mail's HTML, the number from its sender,
// and which announced mails reach the received-SMS centre, once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/names.h"
#include "incoming/incoming_distributed_message_handler.h"
#include "incoming/incoming_message_handler.h"
#include "platform/messaging_center.h"
#include "platform/run_loop.h"
#include "platform/testing/temporary_root.h"

namespace pelorin {
namespace {

using namespace std::chrono_literals;
using platform::Dictionary;
using platform::MFMailMessage;
using platform::MFMimeBody;

TEST(ExtractTextMessageTest, ReplacesInOrderAndCutsTheSignature) {
  struct Case {
    const char* what;
    std::string html;
    std::string expected;
  };
  const Case cases[] = {
      {"marker made of two <BR>", "Hello there<BR>--<BR>Sent using SMS-to-email<BR>trailer",
       "Hello there"},
      {"ampersand, final <BR>, no marker", "Fish &amp; chips<BR>", "Fish & chips"},
      {"only the last <BR> is dropped", "a<BR><BR>", "a\n"},
      {"source lines join", "one\r\ntwo\nthree", "onetwothree"},
      {"lower-case tag stays", "a<br>b<BR>", "a<br>b"},
      {"listed tags removed, others stay, last character kept",
       "<HTML><BODY><SPAN>hi</SPAN> <b>x</b> <SPAN class=\"c\">body</BODY></HTML>",
       "hi <b>x</b> <SPAN class=\"c\">body"},
      {"entities", "&quot;a&nbsp;b&quot; &lt;c&gt;", "\"a b\" <c>"},
      {"escaped ampersand then lt; ends as <", "&amp;lt;x", "<x"},
      {"first marker wins", "a\n<BR>--<BR>Sent using SMS-to-email<BR>--<BR>Sent using SMS-to-email",
       "a"},
      {"no final <BR>: nothing removed", "caf\xc3\xa9", "caf\xc3\xa9"},
      {"NUL dropped, text after it kept", std::string("one\0two<BR>", 11), "onetwo"},
      {"empty after replacements stays empty", "<HTML></HTML>\r\n", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IncomingMessageHandler::extractTextMessage(c.html), c.expected) << c.what;
  }
}

TEST(GetNumberFromAddressTest, TakesTheNumberFieldOfTheLastAddressInTheServicesForm) {
  struct Case {
    Text address;
    Text expected;
  };
  const Case cases[] = {
      {"Ann Lee <15551234567.12125550123.Ab1Cd2@txt.voice.google.com>", "12125550123"},
      {"15551234567.13105550199.Qx7@txt.voice.google.com", "13105550199"},
      {"<one.two.three@x> <four.five.six@x>", "five"},
      {"\"a.b.c\" <nodots@txt.voice.google.com>", std::nullopt},
      {"nodots@txt.voice.google.com", std::nullopt},
      {"Name <one.two@txt.voice.google.com>", std::nullopt},
      {"a..b@txt.voice.google.com", std::nullopt},
      {"Name <a.b.c>", std::nullopt},
      {"nodots", std::nullopt},
      {std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IncomingMessageHandler::getNumberFromAddress(c.address), c.expected)
        << c.address.value_or("(none)");
  }
}

constexpr char kGVSender[] = "Ann <15551234567.12125550123.K3y@txt.voice.google.com>";

std::shared_ptr<MFMailMessage> mail(const std::string& id, const std::string& sender = kGVSender,
                                    const Text& account = "me@gmail.com",
                                    const Text& mailbox = "INBOX") {
  return std::make_shared<MFMailMessage>(
      MFMailMessage::Fields{.messageID = id,
                            .firstSender = sender,
                            .subject = "SMS",
                            .account = std::make_shared<platform::MFMailAccount>(account),
                            .mailbox = std::make_shared<platform::MFMailbox>(mailbox)});
}

std::shared_ptr<MFMimeBody> html(const std::string& bytes, const Text& charset = "UTF-8") {
  return std::make_shared<MFMimeBody>(
      std::vector<MFMimeBody::HTMLPart>{{charset, platform::Data(bytes.begin(), bytes.end())}});
}

class MailHandlingTest : public ::testing::Test {
 protected:
  MailHandlingTest() {
    server_->runServerOnCurrentThread();
    server_->registerForMessageName(
        std::string(kSMSReceivedMessageName),
        [this](const std::string&, const Dictionary& info) { delivered_.push_back(info); });
    handler_.setEnableReceiveByMail(true);
    handler_.setAccountOption(0);
  }

  void announce(std::vector<std::shared_ptr<MFMailMessage>> messages) {
    platform::NotificationObjects objects;
    for (auto& m : messages) objects["messages"].push_back(m);
    handler_.handleMailMessageStorage(objects);
  }

  // "sender: text" of every record the centre received, after its loop ran.
  std::vector<std::string> forwarded() {
    platform::RunLoop::current()->runUntil([] { return false; }, 50ms);
    std::vector<std::string> out;
    for (const auto& record : delivered_) {
      auto field = [&](std::string_view key) {
        auto it = record.find(std::string(key));
        return it == record.end() ? std::string("(none)") : *it->second.asString();
      };
      out.push_back(field(kSMSSenderPhoneKey) + ": " + field(kSMSTextMessageKey));
    }
    return out;
  }

  platform::testing::TemporaryRoot root_;
  std::unique_ptr<platform::MessagingCenterProvider> centres_ =
      platform::newInProcessMessagingCenters();
  struct Installed {
    explicit Installed(platform::MessagingCenterProvider* p) { platform::setMessagingCenters(p); }
    ~Installed() { platform::setMessagingCenters(nullptr); }
  } installed_{centres_.get()};
  std::shared_ptr<platform::CPDistributedMessagingCenter> server_ =
      platform::CPDistributedMessagingCenter::centerNamed(std::string(kSMSRecvCenterName));
  std::vector<Dictionary> delivered_;
  IncomingDistributedMessageHandler client_{
      platform::CPDistributedMessagingCenter::centerNamed(std::string(kSMSRecvCenterName))};
  IncomingMessageHandler handler_{{.centreClient = &client_}};
};

TEST_F(MailHandlingTest, TextMailsAreListedOnceAndProcessedOnce) {
  auto gv = mail("<a@x>");
  auto noNumber = mail("<c@x>", "nodots@txt.voice.google.com");
  announce({gv, mail("<b@x>", "Bob <bob@example.com>"), gv, noNumber});
  announce({gv});
  EXPECT_EQ(handler_.recvdMailMessageIDList(), (std::vector<std::string>{"<a@x>", "<c@x>"}));

  handler_.processMailMessage(mail("<b@x>", "Bob <bob@example.com>"), html("not a text.<BR>"));
  handler_.processMailMessage(noNumber, html("no sender<BR>"));
  handler_.processMailMessage(gv, html("Hi &amp; bye<BR>"));
  handler_.processMailMessage(gv, html("Hi again<BR>"));
  EXPECT_TRUE(handler_.recvdMailMessageIDList().empty());
  // Announced again once processed (a mailbox synced anew): not listed again.
  announce({gv});
  EXPECT_TRUE(handler_.recvdMailMessageIDList().empty());
  EXPECT_EQ(forwarded(), std::vector<std::string>{"12125550123: Hi & bye"});
}

TEST_F(MailHandlingTest, BodiesAreDecodedByTheirCharacterSet) {
  const std::pair<std::shared_ptr<MFMimeBody>, const char*> bodies[] = {
      {html("Caf\xe9<BR>", "ISO-8859-1"), "12125550123: Caf\xc3\xa9"},
      {html("\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \xf0\x9f\x98\x80<BR>", "utf-8"),
       "12125550123: \xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \xf0\x9f\x98\x80"},
      {html("x<BR>", "x-unknown"), nullptr},
      {html("x<BR>", std::nullopt), nullptr},
      {html("bad \xff<BR>", "UTF-8"), nullptr},
      {std::make_shared<MFMimeBody>(std::vector<MFMimeBody::HTMLPart>{}), nullptr},
      {nullptr, nullptr},
  };
  std::vector<std::string> expected;
  int n = 0;
  for (const auto& [body, result] : bodies) {
    auto m = mail("<" + std::to_string(n++) + ">");
    announce({m});
    handler_.processMailMessage(m, body);
    if (result) expected.push_back(result);
  }
  EXPECT_EQ(forwarded(), expected);
  EXPECT_TRUE(handler_.recvdMailMessageIDList().empty());
}

TEST_F(MailHandlingTest, AccountAndMailboxFiltersDropAndForget) {
  struct Case {
    const char* what;
    std::int32_t option;
    Text account;
    Text label;
    Text messageAccount;
    Text messageMailbox;
    bool forwarded;
  };
  const Case cases[] = {
      {"option 0 takes every account", 0, std::nullopt, std::nullopt, "other@x.com", "Junk", true},
      {"option 1, same account ignoring case", 1, "Me@Gmail.com", std::nullopt, "me@gmail.com",
       "INBOX", true},
      {"option 1, other account", 1, "me@gmail.com", std::nullopt, "you@gmail.com", "INBOX", false},
      {"option 2 without an account refuses all", 2, std::nullopt, std::nullopt, "me@gmail.com",
       "INBOX", false},
      {"label matches ignoring case", 0, std::nullopt, "gv", "me@gmail.com", "GV", true},
      {"label differs", 0, std::nullopt, "GV", "me@gmail.com", "INBOX", false},
      {"label set, message without mailbox", 0, std::nullopt, "GV", "me@gmail.com", std::nullopt,
       false},
      {"label folds case beyond ASCII", 0, std::nullopt, "Textes-\xc3\x89T\xc3\x89", "me@gmail.com",
       "textes-\xc3\xa9t\xc3\xa9", true},
      {"label composed matches decomposed", 0, std::nullopt, "\xc3\xa9t\xc3\xa9", "me@gmail.com",
       "E\xcc\x81TE\xcc\x81", true},
      {"label accents still count", 0, std::nullopt, "Textes-ETE", "me@gmail.com",
       "textes-\xc3\xa9t\xc3\xa9", false},
      {"account folds case beyond ASCII", 1, "J\xc3\x9cRGEN@gmx.de", std::nullopt,
       "j\xc3\xbcrgen@gmx.de", "INBOX", true},
  };
  for (const auto& c : cases) {
    delivered_.clear();
    handler_.setAccountOption(c.option);
    handler_.setRecvMailAccount(c.account);
    handler_.setRecvMailLabel(c.label);
    auto m = mail(c.what, kGVSender, c.messageAccount, c.messageMailbox);
    announce({m});
    handler_.processMailMessage(m, html("t<BR>"));
    EXPECT_EQ(forwarded().size(), c.forwarded ? 1u : 0u) << c.what;
    // Refused or not, the mail is never processed again (moved to the right mailbox, say).
    handler_.setRecvMailLabel(std::nullopt);
    handler_.setAccountOption(0);
    handler_.processMailMessage(m, html("t<BR>"));
    EXPECT_EQ(forwarded().size(), c.forwarded ? 1u : 0u) << c.what;
  }
}

TEST_F(MailHandlingTest, NothingHappensWhileMailReceivingIsOff) {
  handler_.setEnableReceiveByMail(false);
  auto m = mail("<off>");
  announce({m});
  EXPECT_TRUE(handler_.recvdMailMessageIDList().empty());
  handler_.setEnableReceiveByMail(true);
  announce({m});
  handler_.setEnableReceiveByMail(false);
  handler_.processMailMessage(m, html("t<BR>"));
  EXPECT_EQ(handler_.recvdMailMessageIDList(), std::vector<std::string>{"<off>"});
  EXPECT_TRUE(forwarded().empty());
}

// The store announces on one thread and sets bodies on another: every text
// mail reaches the centre exactly once, whatever the interleaving.
using MailHandlingConcurrencyTest = MailHandlingTest;

TEST_F(MailHandlingConcurrencyTest, AnnouncedOnOneThreadProcessedOnAnotherOnce) {
  constexpr int kMails = 200;
  std::vector<std::shared_ptr<MFMailMessage>> mails;
  for (int i = 0; i < kMails; ++i) mails.push_back(mail("<" + std::to_string(i) + ">"));
  std::atomic<bool> announced{false};
  std::thread announcer([&] {
    for (const auto& m : mails) {
      announce({m});
      announce({m, m});
    }
    announced = true;
  });
  std::thread bodies([&] {
    const auto body = html("t<BR>");
    for (bool last = false; !last;) {
      last = announced.load();
      for (const auto& m : mails) handler_.processMailMessage(m, body);
    }
  });
  announcer.join();
  bodies.join();
  platform::RunLoop::current()->runUntil([&] { return delivered_.size() >= kMails; }, 5s);
  EXPECT_EQ(forwarded().size(), static_cast<std::size_t>(kMails));
  EXPECT_TRUE(handler_.recvdMailMessageIDList().empty());
}

}  // namespace
}  // namespace pelorin
