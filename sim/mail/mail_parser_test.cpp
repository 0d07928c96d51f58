// The sample mails as the Mail host parses them: identifiers, senders as the
// platform writes them, and HTML parts with their character set and decoded bytes.
#include "sim/mail/mail_parser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/charset.h"

namespace pelorin::sim {
namespace {

std::string sample(const std::string& name) {
  std::ifstream in(std::string(SAMPLES_DIR) + "/" + name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TEST(MailParserTest, SamplesParseIntoTheStoresFields) {
  struct Case {
    const char* file;
    Text messageID;
    Text firstSender;
    Text subject;
    Text charset;
    std::string htmlStart;  // of the decoded first HTML part
  };
  const Case cases[] = {
      {"gv-plain.eml", "plain.0001@txt.voice.google.com",
       "Ann Lee <15551230000.12125550123.Ab3dE9@txt.voice.google.com>",
       "SMS from Ann Lee [(212) 555-0123]", "UTF-8", "<HTML><BODY>Running late"},
      {"gv-latin1-qp.eml", "latin1.0002@txt.voice.google.com",
       "15551230000.13105550199.Qx7Lm2@txt.voice.google.com", "SMS from (310) 555-0199",
       "ISO-8859-1",
       "<HTML><BODY>Caf\xc3\xa9 cr\xc3\xa8me \xc3\xa0 5h? \xc2\xbfS\xc3\xad?<BR>--<BR>Sent"},
      {"gv-utf8-base64.eml", "utf8.0003@txt.voice.google.com",
       "Boris P. <15551230000.14155550142.Zz9Yy8@txt.voice.google.com>", "SMS from Boris P.",
       "utf-8", "<HTML><BODY>\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82! \xf0\x9f\x98\x80"},
      {"gv-multipart-alternative.eml", "alternative.0004@txt.voice.google.com",
       "Carla Diaz <15551230000.16175550177.Pq4Rs5@txt.voice.google.com>",
       "SMS from Carla Diaz [(617) 555-0177]", "UTF-8", "<HTML><BODY>Both parts say hi, \r\nbut"},
      {"not-text-mail.eml", "news.0006@example.com", "Newsletter <news@example.com>", "This week",
       "UTF-8", "<HTML><BODY>Not a text"},
  };
  for (const auto& c : cases) {
    auto mail = MailParser::parse(sample(c.file));
    ASSERT_TRUE(mail) << c.file;
    EXPECT_EQ(mail->messageID, c.messageID) << c.file;
    EXPECT_EQ(mail->firstSender, c.firstSender) << c.file;
    EXPECT_EQ(mail->subject, c.subject) << c.file;
    ASSERT_EQ(mail->htmlParts.size(), 1u) << c.file;  // the plain alternative is no HTML part
    EXPECT_EQ(mail->htmlParts[0].preferredCharacterSet, c.charset) << c.file;
    const Text html = platform::decodeCharacterSet(mail->htmlParts[0].htmlData, c.charset);
    ASSERT_TRUE(html) << c.file;
    EXPECT_EQ(html->substr(0, c.htmlStart.size()), c.htmlStart) << c.file;
  }
}

TEST(MailParserTest, MissingHeadersAndPartsStayAbsent) {
  auto bare = MailParser::parse("Subject: x\r\n\r\nplain body\r\n");
  ASSERT_TRUE(bare);
  EXPECT_FALSE(bare->messageID);
  EXPECT_FALSE(bare->firstSender);
  EXPECT_TRUE(bare->htmlParts.empty());

  auto noCharset =
      MailParser::parse("From: a@b.c\r\nContent-Type: text/html\r\n\r\n<HTML>x</HTML>\r\n");
  ASSERT_TRUE(noCharset);
  EXPECT_EQ(noCharset->firstSender, "a@b.c");
  ASSERT_EQ(noCharset->htmlParts.size(), 1u);
  EXPECT_FALSE(noCharset->htmlParts[0].preferredCharacterSet);
}

}  // namespace
}  // namespace pelorin::sim
