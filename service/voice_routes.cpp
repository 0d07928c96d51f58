#include "service/voice_routes.h"

#include <httplib.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <thread>

#include "service/form_fields.h"
#include "service/reply_pages.h"

namespace pelorin::service {
namespace {

constexpr const char* kJson = "application/json; charset=UTF-8";
constexpr const char* kPlain = "text/plain; charset=UTF-8";
constexpr std::string_view kAuthorizationPrefix = "GoogleLogin auth=";

Reply unauthorized() {
  return {401, unauthorizedReply()};
}

// Fields httplib adds to a request itself; they were not sent.
bool isAddedByServer(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
         name == "LOCAL_PORT";
}

// Closes the connection under the request, so the client gets no reply at all.
void dropConnection(const httplib::Request& request) {
  if (request.ssl != nullptr) ::shutdown(SSL_get_fd(request.ssl), SHUT_RDWR);
}

}  // namespace

VoiceRoutes::VoiceRoutes(ServiceState& state, RequestJournal& journal, FaultPlan& faults)
    : state_(state), journal_(journal), faults_(faults) {}

void VoiceRoutes::install(httplib::Server& server) {
  auto route = [this](Route handler) {
    return [this, handler](const httplib::Request& req, httplib::Response& res) {
      serve(req, res, handler);
    };
  };
  server.Post("/accounts/ClientLogin", route(&VoiceRoutes::signIn));
  server.Get("/voice/account/signout", route(&VoiceRoutes::signOut));
  server.Get("/voice/m/signedout", route(&VoiceRoutes::signedOut));
  server.Get("/voice/m", route(&VoiceRoutes::mobileHome));
  server.Get("/voice/request/unread", route(&VoiceRoutes::unreadCounts));
  server.Get("/voice/b/0/m/billing", route(&VoiceRoutes::billing));
  server.Post("/voice/m/x", route(&VoiceRoutes::mobileAction));
  server.Get("/voice/inbox/recent/sms", route(&VoiceRoutes::recentTexts));
  server.Post("/voice/call/connect/", route(&VoiceRoutes::connectCallback));
  server.Post("/voice/call/cancel/", route(&VoiceRoutes::cancelCallback));
  server.Get(".*", route(&VoiceRoutes::notFound));
  server.Post(".*", route(&VoiceRoutes::notFound));
}

void VoiceRoutes::serve(const httplib::Request& request, httplib::Response& response, Route route) {
  const std::optional<Fault> fault = faults_.take(request.path, request.target);
  if (fault && fault->delayMs > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(fault->delayMs));
  }
  if (fault && fault->drop) {
    dropConnection(request);
    journal(request, 0, true);
    return;
  }
  Reply reply;
  if (fault && (fault->status || fault->body || fault->location)) {
    reply.status = fault->status.value_or(fault->location ? 302 : 200);
    reply.body = fault->body.value_or("");
    if (fault->location) reply.headers.emplace_back("Location", *fault->location);
  } else {
    reply = (this->*route)(request, fault ? &*fault : nullptr);
  }
  response.status = reply.status;
  for (const auto& [name, value] : reply.headers) response.headers.emplace(name, value);
  response.set_content(reply.body, reply.contentType);
  journal(request, reply.status, false);
}

void VoiceRoutes::journal(const httplib::Request& request, int status, bool dropped) {
  JournalEntry entry{.method = request.method,
                     .target = request.target,
                     .body = request.body.substr(0, RequestJournal::kMaxBodyBytes),
                     .bodySize = request.body.size(),
                     .status = status,
                     .dropped = dropped,
                     .peer = request.remote_addr + ":" + std::to_string(request.remote_port)};
  for (const auto& [name, value] : request.headers) {
    if (!isAddedByServer(name)) entry.headers.emplace_back(name, value);
  }
  journal_.record(std::move(entry));
}

std::optional<std::string> VoiceRoutes::authorizedUser(const httplib::Request& request) const {
  const std::string field = request.get_header_value("Authorization");
  if (!field.starts_with(kAuthorizationPrefix)) return std::nullopt;
  return state_.userForToken(field.substr(kAuthorizationPrefix.size()));
}

std::optional<std::string> VoiceRoutes::gvxUser(const httplib::Request& request) const {
  const auto body = nlohmann::json::parse(request.body, nullptr, false);
  if (!body.is_object() || !body.contains("gvx") || !body["gvx"].is_string()) return std::nullopt;
  return state_.userForGvx(body["gvx"].get<std::string>());
}

Reply VoiceRoutes::signIn(const httplib::Request& request, const Fault*) {
  const auto form = formFields(request.body);
  const auto token = state_.signIn(fieldOr(form, "Email"), fieldOr(form, "Passwd"));
  if (!token) return {403, badAuthenticationReply(), kPlain};
  return {200, signInReply(*token), kPlain};
}

Reply VoiceRoutes::signOut(const httplib::Request&, const Fault*) {
  return {302, "", kPlain, {{"Location", "/voice/m/signedout"}}};
}

Reply VoiceRoutes::signedOut(const httplib::Request&, const Fault*) {
  return {200, signedOutPage()};
}

Reply VoiceRoutes::mobileHome(const httplib::Request& request, const Fault*) {
  const auto user = authorizedUser(request);
  if (!user) return unauthorized();
  const std::string gvx = state_.issueGvx(*user);
  return {200,
          mobileHomePage(),
          "text/html; charset=UTF-8",
          {{"Set-Cookie", "gv_session=" + gvx.substr(3, 12) + "; Path=/voice; Secure"},
           {"Set-Cookie", "gvx=" + gvx + "; Path=/; Secure; HttpOnly"}}};
}

Reply VoiceRoutes::unreadCounts(const httplib::Request& request, const Fault*) {
  const auto user = authorizedUser(request);
  const auto account = user ? state_.account(*user) : std::nullopt;
  if (!account) return unauthorized();
  return {200, unreadCountsReply(*account, state_.formToken(*user)), kJson};
}

Reply VoiceRoutes::billing(const httplib::Request& request, const Fault*) {
  const auto user = authorizedUser(request);
  const auto account = user ? state_.account(*user) : std::nullopt;
  if (!account) return unauthorized();
  return {200, billingPage(*account)};
}

Reply VoiceRoutes::mobileAction(const httplib::Request& request, const Fault* fault) {
  const auto user = authorizedUser(request);
  if (!user || gvxUser(request) != user) return unauthorized();
  const std::string action = fieldOr(formFields(queryOf(request.target)), "m");
  if (action == "sms") return sendText(*user, request, fault);
  if (action == "call") return accessNumber(*user, request);
  const auto account = state_.account(*user);
  if (action == "list" && account) return {200, voicemailReply(*account), kJson};
  return {400, "{\"ok\":false}", kJson};
}

Reply VoiceRoutes::sendText(const std::string& user, const httplib::Request& request,
                            const Fault* fault) {
  const auto query = formFields(queryOf(request.target));
  int code = fault && fault->sendSmsResponse ? *fault->sendSmsResponse : 0;
  if (fieldOr(query, "n").empty()) code = 2;
  if (code == 0) state_.recordText({user, fieldOr(query, "n"), fieldOr(query, "txt")});
  return {200, sendSmsReply(code), kJson};
}

Reply VoiceRoutes::accessNumber(const std::string& user, const httplib::Request& request) {
  const auto query = formFields(queryOf(request.target));
  const auto account = state_.account(user);
  if (!account || fieldOr(query, "f").empty() || fieldOr(query, "n").empty()) {
    return {200, missingOwnNumberReply(), kJson};
  }
  return {200, accessNumberReply(state_.accessNumberFor(fieldOr(query, "n")), account->balance),
          kJson};
}

Reply VoiceRoutes::recentTexts(const httplib::Request& request, const Fault*) {
  const auto user = authorizedUser(request);
  const auto account = user ? state_.account(*user) : std::nullopt;
  if (!account) return unauthorized();
  return {200, recentTextsPage(*account)};
}

Reply VoiceRoutes::connectCallback(const httplib::Request& request, const Fault*) {
  const auto user = authorizedUser(request);
  if (!user) return unauthorized();
  const auto form = formFields(request.body);
  const bool valid = fieldOr(form, "_rnr_se") == state_.formToken(*user) &&
                     !fieldOr(form, "outgoingNumber").empty() &&
                     !fieldOr(form, "forwardingNumber").empty();
  if (valid) {
    state_.recordCallback({*user, fieldOr(form, "outgoingNumber"),
                           fieldOr(form, "forwardingNumber"), fieldOr(form, "phoneType")});
  }
  return {200, callbackReply(valid), kJson};
}

Reply VoiceRoutes::cancelCallback(const httplib::Request& request, const Fault*) {
  const auto user = authorizedUser(request);
  if (!user) return unauthorized();
  const auto form = formFields(request.body);
  const bool valid = fieldOr(form, "_rnr_se") == state_.formToken(*user);
  if (valid) state_.cancelCallbacks(*user);
  return {200, cancelCallbackReply(valid), kJson};
}

Reply VoiceRoutes::notFound(const httplib::Request&, const Fault*) {
  return {404, "<html><body>Not Found</body></html>\n"};
}

}  // namespace pelorin::service
