// The mail road: text from a text mail's HTML, the number from its sender,
// and which announced mails reach the received-SMS centre, once.
#include <atomic>
#include <thread>

#include "incoming/incoming_test_support.h"

namespace pelorin::testing {
namespace {

using platform::MFMailMessage;
using platform::MFMimeBody;

TEST(ExtractTextMessageTest, ReplacesInOrderAndCutsTheSignature) {
  const std::pair<std::string, std::string> rows[] = {
      {"Hello there<BR>--<BR>Sent using SMS-to-email<BR>trailer", "Hello there"},
      {"Fish &amp; chips<BR>", "Fish & chips"},  // the line break of a final <BR> dropped
      {"a<BR><BR>", "a\n"},
      {"one\r\ntwo\nthree", "onetwothree"},
      {"a<br>b<BR>", "a<br>b"},
      {"<HTML><BODY><SPAN>hi</SPAN> <b>x</b> <SPAN class=\"c\">body</BODY></HTML>",
       "hi <b>x</b> <SPAN class=\"c\">body"},
      {"&quot;a&nbsp;b&quot; &lt;c&gt;", "\"a b\" <c>"},
      {"&amp;lt;x", "<x"},
      {"a\n<BR>--<BR>Sent using SMS-to-email<BR>--<BR>Sent using SMS-to-email", "a"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},
      {std::string("one\0two<BR>", 11), "onetwo"},
      {"<HTML></HTML>\r\n", ""},
  };
  for (const auto& [html, text] : rows) {
    EXPECT_EQ(IncomingMessageHandler::extractTextMessage(html), text) << html;
  }
}

TEST(GetNumberFromAddressTest, TakesTheNumberFieldOfTheLastAddressInTheServicesForm) {
  const std::pair<Text, Text> rows[] = {
      {"Ann Lee <15551234567.12125550123.Ab1Cd2@txt.voice.google.com>", "12125550123"},
      {"15551234567.13105550199.Qx7@txt.voice.google.com", "13105550199"},
      {"<one.two.three@x> <four.five.six@x>", "five"},
      {"\"a.b.c\" <nodots@txt.voice.google.com>", {}},
      {"Name <one.two@txt.voice.google.com>", {}},
      {"a..b@txt.voice.google.com", {}},
      {"Name <a.b.c>", {}},
      {"nodots", {}},
      {{}, {}},
  };
  for (const auto& [address, number] : rows) {
    EXPECT_EQ(IncomingMessageHandler::getNumberFromAddress(address), number) << *address;
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

class MailHandlingTest : public IncomingTest {
 protected:
  MailHandlingTest() {
    recordCentre();
    handler_.setEnableReceiveByMail(true);
    handler_.setAccountOption(0);
  }
  void announce(const std::vector<std::shared_ptr<MFMailMessage>>& messages) {
    handler_.handleMailMessageStorage({{"messages", {messages.begin(), messages.end()}}});
  }
};

TEST_F(MailHandlingTest, TextMailsAreListedOnceAndProcessedOnceWhileReceivingIsOn) {
  auto gv = mail("<a@x>"), other = mail("<b@x>", "Bob <bob@example.com>");
  auto noNumber = mail("<c@x>", "nodots@txt.voice.google.com");
  handler_.setEnableReceiveByMail(false);
  announce({gv});
  handler_.setEnableReceiveByMail(true);
  announce({gv, other, gv, noNumber,
            std::make_shared<MFMailMessage>(MFMailMessage::Fields{.firstSender = kGVSender})});
  announce({gv});
  EXPECT_EQ(handler_.recvdMailMessageIDList(), (Calls{"<a@x>", "<c@x>"}));
  handler_.setEnableReceiveByMail(false);
  handler_.processMailMessage(gv, html("off<BR>"));
  handler_.setEnableReceiveByMail(true);
  handler_.processMailMessage(other, html("not a text.<BR>"));
  handler_.processMailMessage(noNumber, html("no sender<BR>"));
  handler_.processMailMessage(nullptr, html("no mail<BR>"));
  handler_.processMailMessage(
      std::make_shared<MFMailMessage>(MFMailMessage::Fields{.firstSender = kGVSender}),
      html("no Message-ID<BR>"));
  handler_.processMailMessage(gv, html("Hi &amp; bye<BR>"));
  handler_.processMailMessage(gv, html("Hi again<BR>"));
  EXPECT_TRUE(handler_.recvdMailMessageIDList().empty());
  announce({gv});  // announced again once processed (a mailbox synced anew)
  EXPECT_TRUE(handler_.recvdMailMessageIDList().empty());
  EXPECT_EQ(records(2), Calls{"12125550123: Hi & bye"});
}

TEST_F(MailHandlingTest, MailsAreFilteredByAccountAndMailboxAndDecodedByCharacterSet) {
  struct Row {
    std::int32_t option;
    Text account, label, mailAccount, mailbox;
    const char* record;  // what reached the centre; none: dropped
    std::shared_ptr<MFMimeBody> body = html("t<BR>");
  };
  const Text none, me = "me@gmail.com";
  const char* t = "12125550123: t";
  const Row rows[] = {
      {0, none, none, "other@x.com", "Junk", t},
      {1, "Me@Gmail.com", none, me, "INBOX", t},
      {1, me, none, "you@gmail.com", "INBOX", nullptr},
      {2, none, none, me, "INBOX", nullptr},
      {0, none, "gv", me, "GV", t},
      {0, none, "GV", me, "INBOX", nullptr},
      {0, none, "GV", me, none, nullptr},
      {0, none, "Textes-\xc3\x89T\xc3\x89", me, "textes-\xc3\xa9t\xc3\xa9", t},
      {0, none, "\xc3\xa9t\xc3\xa9", me, "E\xcc\x81TE\xcc\x81", t},      // composed, decomposed
      {0, none, "Textes-ETE", me, "textes-\xc3\xa9t\xc3\xa9", nullptr},  // accents count
      {1, "J\xc3\x9cRGEN@gmx.de", none, "j\xc3\xbcrgen@gmx.de", "INBOX", t},
      {0, none, none, me, "INBOX", "12125550123: Caf\xc3\xa9", html("Caf\xe9<BR>", "ISO-8859-1")},
      {0, none, none, me, "INBOX", "12125550123: \xd0\x9f\xd1\x80\xd0\xb8 \xf0\x9f\x98\x80",
       html("\xd0\x9f\xd1\x80\xd0\xb8 \xf0\x9f\x98\x80<BR>", "utf-8")},
      {0, none, none, me, "INBOX", nullptr, html("x<BR>", "x-unknown")},
      {0, none, none, me, "INBOX", nullptr, html("x<BR>", std::nullopt)},
      {0, none, none, me, "INBOX", nullptr, html("bad \xff<BR>", "UTF-8")},
      {0, none, none, me, "INBOX", nullptr,
       std::make_shared<MFMimeBody>(std::vector<MFMimeBody::HTMLPart>{})},
      {0, none, none, me, "INBOX", nullptr, nullptr},
  };
  Calls expected;
  int n = 0;
  for (const auto& row : rows) {
    handler_.setAccountOption(row.option);
    handler_.setRecvMailAccount(row.account);
    handler_.setRecvMailLabel(row.label);
    auto m = mail(std::to_string(++n), kGVSender, row.mailAccount, row.mailbox);
    announce({m});
    handler_.processMailMessage(m, row.body);
    if (row.record) expected.push_back(row.record);
    EXPECT_EQ(records(expected.size()), expected) << n;
    // Taken or not, the mail is never processed again (moved to the right mailbox, say).
    handler_.setRecvMailLabel(std::nullopt);
    handler_.setAccountOption(0);
    handler_.processMailMessage(m, html("t<BR>"));
  }
  EXPECT_EQ(records(expected.size() + 1), expected);
}

// The store announces on one thread and sets bodies on another: every text
// mail reaches the centre exactly once, whatever the interleaving.
using MailHandlingConcurrencyTest = MailHandlingTest;

TEST_F(MailHandlingConcurrencyTest, AnnouncedOnOneThreadProcessedOnAnotherOnce) {
  constexpr std::size_t kMails = 200;
  std::vector<std::shared_ptr<MFMailMessage>> mails;
  for (std::size_t i = 0; i < kMails; ++i) mails.push_back(mail("<" + std::to_string(i) + ">"));
  std::atomic<bool> announced{false};
  std::thread announcer([&] {
    for (const auto& m : mails) announce({m, m});
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
  EXPECT_EQ(records(kMails + 1).size(), kMails);
  EXPECT_TRUE(handler_.recvdMailMessageIDList().empty());
}

}  // namespace
}  // namespace pelorin::testing
