// Mail files as the Mail host parses them with GMime, and their HTML parts as
// the Mail application's library then reads them: any bytes. An identifier is
// never empty, every HTML part decodes by its character set into UTF-8 or not
// at all, and the decoded text and the sender go through the extraction.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "incoming/incoming_message_handler.h"
#include "platform/charset.h"
#include "platform/utf16.h"
#include "sim/mail/mail_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using pelorin::IncomingMessageHandler;
  const auto mail =
      pelorin::sim::MailParser::parse(std::string(reinterpret_cast<const char*>(data), size));
  if (!mail) return 0;
  if (mail->messageID && mail->messageID->empty()) std::abort();
  for (const auto& part : mail->htmlParts) {
    const auto html =
        pelorin::platform::decodeCharacterSet(part.htmlData, part.preferredCharacterSet);
    if (!html) continue;
    if (!pelorin::platform::isValidUtf8(*html)) std::abort();
    IncomingMessageHandler::extractTextMessage(*html);
  }
  IncomingMessageHandler::getNumberFromAddress(mail->firstSender);
  return 0;
}
