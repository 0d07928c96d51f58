#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "service/service_state.h"

namespace pelorin::service {

// The bodies the stand-in answers with. Each carries the markers the client
// looks for, in the shape the real service gives them, among other content.

std::string signInReply(const std::string& token);
std::string badAuthenticationReply();
std::string mobileHomePage();
std::string unreadCountsReply(const Account& account, const std::string& formToken);
std::string billingPage(const Account& account);
std::string sendSmsReply(int code);
std::string accessNumberReply(const std::string& accessNumber, const std::string& balance);
std::string missingOwnNumberReply();
std::string recentTextsPage(const Account& account);
std::string callbackReply(bool ok);
std::string cancelCallbackReply(bool ok);
std::string voicemailReply(const Account& account);
std::string signedOutPage();
std::string unauthorizedReply();

// `text` with &, <, >, " and ' written as HTML entities.
std::string htmlEscaped(std::string_view text);

}  // namespace pelorin::service
