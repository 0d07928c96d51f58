#include "sim/mail/mail_parser.h"

#include <gmime/gmime.h>

#include <mutex>

namespace pelorin::sim {
namespace {

// Releases a GObject reference on scope exit.
template <class T>
struct Ref {
  explicit Ref(T* p) : ptr(p) {}
  ~Ref() {
    if (ptr) g_object_unref(ptr);
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T* ptr;
};

Text textOf(const char* s) {
  return s ? Text(s) : Text();
}

// The first From mailbox as the platform writes a sender.
Text firstSender(GMimeMessage* message) {
  InternetAddressList* from = g_mime_message_get_from(message);
  if (!from || internet_address_list_length(from) == 0) return std::nullopt;
  InternetAddress* address = internet_address_list_get_address(from, 0);
  if (!INTERNET_ADDRESS_IS_MAILBOX(address)) return std::nullopt;
  const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
  if (!addr) return std::nullopt;
  const char* name = internet_address_get_name(address);
  if (!name || *name == '\0') return std::string(addr);
  return std::string(name) + " <" + addr + ">";
}

void collectHtml(GMimeObject*, GMimeObject* part, gpointer data) {
  if (!GMIME_IS_PART(part)) return;
  GMimeContentType* type = g_mime_object_get_content_type(part);
  if (!type || !g_mime_content_type_is_type(type, "text", "html")) return;
  auto& parts = *static_cast<std::vector<platform::MFMimeBody::HTMLPart>*>(data);
  platform::MFMimeBody::HTMLPart html;
  html.preferredCharacterSet = textOf(g_mime_content_type_get_parameter(type, "charset"));
  if (GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part))) {
    Ref<GMimeStream> out(g_mime_stream_mem_new());
    // Writing the wrapper out undoes the transfer encoding; the bytes keep their charset.
    g_mime_data_wrapper_write_to_stream(content, out.ptr);
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.ptr));
    html.htmlData.assign(bytes->data, bytes->data + bytes->len);
  }
  parts.push_back(std::move(html));
}

}  // namespace

std::optional<ParsedMail> MailParser::parse(const std::string& bytes) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { g_mime_init(); });

  Ref<GMimeStream> stream(
      g_mime_stream_mem_new_with_buffer(bytes.data(), static_cast<gsize>(bytes.size())));
  Ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream.ptr));
  Ref<GMimeMessage> message(g_mime_parser_construct_message(parser.ptr, nullptr));
  if (!message.ptr || !message.ptr->mime_part) return std::nullopt;

  ParsedMail mail;
  const char* id = g_mime_message_get_message_id(message.ptr);
  if (id && *id) mail.messageID = id;
  mail.firstSender = firstSender(message.ptr);
  mail.subject = textOf(g_mime_message_get_subject(message.ptr));
  g_mime_message_foreach(message.ptr, &collectHtml, &mail.htmlParts);
  return mail;
}

}  // namespace pelorin::sim
