#include "service/reply_pages.h"

#include <nlohmann/json.hpp>

namespace pelorin::service {

std::string htmlEscaped(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string signInReply(const std::string& token) {
  return "SID=DQAAAHsid" + token.substr(5, 8) + "\nLSID=DQAAAHlsid" + token.substr(5, 8) +
         "\nAuth=" + token + "\n";
}

std::string badAuthenticationReply() {
  return "Error=BadAuthentication\n";
}

std::string mobileHomePage() {
  return "<!DOCTYPE html>\n<html><head><title>Google Voice</title></head>\n"
         "<body><div class=\"ms3\">Inbox</div></body></html>\n";
}

std::string unreadCountsReply(const Account& account, const std::string& formToken) {
  const auto unread = account.inbox.size() + account.voicemail.size();
  return "{\"unreadCounts\":{\"all\":" + std::to_string(unread) +
         ",\"inbox\":" + std::to_string(unread) +
         ",\"sms\":" + std::to_string(account.inbox.size()) +
         ",\"voicemail\":" + std::to_string(account.voicemail.size()) + "},\"r\":\"" + formToken +
         "\"}";
}

std::string billingPage(const Account& account) {
  return "<html><head><title>Google Voice - Billing</title></head><body>\n"
         "<div class=\"ms3\">Your Google Voice number: <b class=\"ms3\">" +
         htmlEscaped(account.gvNumber) +
         "</b></div>\n<div>Credit balance:\n"
         "<span style=\"color: #17A245; font-size: 16px; font-weight: bold;\">" +
         htmlEscaped(account.balance) + "</span></div>\n</body></html>\n";
}

std::string sendSmsReply(int code) {
  return "{\"send_sms_response\": " + std::to_string(code) +
         ", \"ok\": " + (code == 0 ? "true" : "false") + "}";
}

std::string accessNumberReply(const std::string& accessNumber, const std::string& balance) {
  return "{\"ok\":true,\"call_through_response\":{\"access_number\":\"" + accessNumber +
         "\",\"expires\":\"3600\"},\"formatted_balance\":\"" + balance + "\"}";
}

std::string missingOwnNumberReply() {
  return "{\"ok\":false,\"error\":\"missing forwarding number\"}";
}

std::string recentTextsPage(const Account& account) {
  std::string page = "<html><head><title>Google Voice - SMS</title></head><body>\n";
  for (const auto& entry : account.inbox) {
    page +=
        "<div class=\"gc-message gc-message-sms\">\n"
        "  <span class=\"gc-message-name\"><a class=\"gc-under gc-message-name-link\" "
        "title=\"Go to contact\" href=\"javascript://\">" +
        htmlEscaped(entry.name) +
        "</a></span>\n"
        "  <input type=\"hidden\" class=\"gc-quickcall-ac\" value=\"" +
        htmlEscaped(entry.number) + "\"/>\n  <div class=\"gc-message-sms-text\">" +
        htmlEscaped(entry.text) + "</div>\n</div>\n";
  }
  return page + "</body></html>\n";
}

std::string callbackReply(bool ok) {
  return ok ? "{\"ok\":true,\"data\":{\"code\":0}}" : "{\"ok\":false,\"data\":{\"code\":20}}";
}

// The real service puts spaces around this colon; the client's marker expects them.
std::string cancelCallbackReply(bool ok) {
  return std::string("{\"data\":{\"code\":0},\"ok\" : ") + (ok ? "true" : "false") + "}";
}

std::string voicemailReply(const Account& account) {
  nlohmann::json list = nlohmann::json::array();
  int id = 1;
  for (const auto& voicemail : account.voicemail) {
    list.push_back({{"id", "vm" + std::to_string(id++)},
                    {"phoneNumber", voicemail.from},
                    {"messageText", voicemail.transcript},
                    {"isRead", false}});
  }
  return nlohmann::json{{"ok", true}, {"messageList", list}}.dump(
      -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string signedOutPage() {
  return "<html><head><title>Signed out</title></head><body>You have signed out.</body></html>\n";
}

std::string unauthorizedReply() {
  return "<html><head><title>Unauthorized</title></head><body>Error 401</body></html>\n";
}

}  // namespace pelorin::service
