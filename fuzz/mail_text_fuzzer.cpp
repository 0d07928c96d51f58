// A text mail's HTML and sender as the Mail application's library reads them:
// any bytes. The text is never longer than the HTML, holds no NUL and no
// signature marker, and stays UTF-8 when the HTML was; a number is one
// non-empty field of the address, without dots, "@" or "<".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "incoming/incoming_message_handler.h"
#include "platform/utf16.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using pelorin::IncomingMessageHandler;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string text = IncomingMessageHandler::extractTextMessage(input);
  if (text.size() > input.size() || text.find('\0') != std::string::npos ||
      text.find(IncomingMessageHandler::kMailSignatureMarker) != std::string::npos) {
    std::abort();
  }
  if (pelorin::platform::isValidUtf8(input) && !pelorin::platform::isValidUtf8(text)) std::abort();
  const auto number = IncomingMessageHandler::getNumberFromAddress(input);
  if (number && (number->empty() || number->find_first_of(".@<") != std::string::npos)) {
    std::abort();
  }
  return 0;
}
