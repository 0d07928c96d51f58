#include "service/admin_routes.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "service/account_json.h"

namespace pelorin::service {
namespace {

using nlohmann::json;
constexpr const char* kJson = "application/json";

// Invalid UTF-8 a client sent (a text, a header, a body) is answered with
// U+FFFD in its place: the admin JSON stays valid whatever was received.
void answer(httplib::Response& response, const json& body, int status = 200) {
  response.status = status;
  response.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), kJson);
}

// Runs `action` on the request's JSON body; a body that is not a JSON object
// is answered with 400.
template <class Action>
auto withBody(Action action) {
  return [action](const httplib::Request& request, httplib::Response& response) {
    const json body = json::parse(request.body.empty() ? "{}" : request.body, nullptr, false);
    if (!body.is_object()) return answer(response, {{"error", "expected a JSON object"}}, 400);
    try {
      action(body, response);
    } catch (const json::exception& e) {
      answer(response, {{"error", e.what()}}, 400);
    }
  };
}

json toJson(const JournalEntry& entry) {
  json headers = json::object();
  for (const auto& [name, value] : entry.headers) headers[name] = value;
  return {{"sequence", entry.sequence},
          {"method", entry.method},
          {"target", entry.target},
          {"headers", headers},
          {"body", entry.body},
          {"body_size", entry.bodySize},
          {"body_truncated", entry.bodySize > entry.body.size()},
          {"status", entry.status},
          {"dropped", entry.dropped},
          {"peer", entry.peer}};
}

Fault faultFrom(const json& body) {
  Fault fault{.path = body.at("path").get<std::string>(),
              .count = body.value("count", 1),
              .delayMs = body.value("delay_ms", 0),
              .drop = body.value("drop", false)};
  if (body.contains("status")) fault.status = body["status"].get<int>();
  if (body.contains("body")) fault.body = body["body"].get<std::string>();
  if (body.contains("location")) fault.location = body["location"].get<std::string>();
  if (body.contains("send_sms_response")) {
    fault.sendSmsResponse = body["send_sms_response"].get<int>();
  }
  return fault;
}

}  // namespace

AdminRoutes::AdminRoutes(ServiceState& state, RequestJournal& journal, FaultPlan& faults)
    : state_(state), journal_(journal), faults_(faults) {}

void AdminRoutes::install(httplib::Server& server) {
  installInspection(server);
  installControl(server);
}

void AdminRoutes::installInspection(httplib::Server& server) {
  server.Get("/admin/journal", [this](const httplib::Request&, httplib::Response& res) {
    json entries = json::array();
    for (const auto& entry : journal_.entries()) entries.push_back(toJson(entry));
    answer(res, entries);
  });
  server.Get("/admin/stats", [this](const httplib::Request&, httplib::Response& res) {
    answer(res,
           {{"requests", journal_.requestCount()}, {"connections", journal_.connectionCount()}});
  });
  server.Get("/admin/texts", [this](const httplib::Request&, httplib::Response& res) {
    json texts = json::array();
    for (const auto& text : state_.texts()) {
      texts.push_back({{"username", text.username}, {"to", text.recipient}, {"text", text.text}});
    }
    answer(res, texts);
  });
  server.Get("/admin/callbacks", [this](const httplib::Request&, httplib::Response& res) {
    json callbacks = json::array();
    for (const auto& c : state_.callbacks()) {
      callbacks.push_back({{"username", c.username},
                           {"outgoing", c.outgoingNumber},
                           {"forwarding", c.forwardingNumber},
                           {"phone_type", c.phoneType},
                           {"cancelled", c.cancelled}});
    }
    answer(res, callbacks);
  });
  server.Get("/admin/accounts", [this](const httplib::Request&, httplib::Response& res) {
    json accounts = json::array();
    for (const auto& account : state_.accounts()) accounts.push_back(accountToJson(account));
    answer(res, accounts);
  });
}

void AdminRoutes::installControl(httplib::Server& server) {
  server.Delete("/admin/journal", [this](const httplib::Request&, httplib::Response& res) {
    journal_.clear();
    answer(res, {{"ok", true}});
  });
  server.Post("/admin/faults", withBody([this](const json& body, httplib::Response& res) {
                faults_.add(faultFrom(body));
                answer(res, {{"ok", true}});
              }));
  server.Delete("/admin/faults", [this](const httplib::Request&, httplib::Response& res) {
    faults_.clear();
    answer(res, {{"ok", true}});
  });
  server.Post("/admin/expire", withBody([this](const json& body, httplib::Response& res) {
                if (body.value("tokens", false)) state_.expireTokens();
                if (body.value("cookies", false)) state_.expireCookies();
                answer(res, {{"ok", true}});
              }));
  server.Post("/admin/accounts", withBody([this](const json& body, httplib::Response& res) {
                state_.addAccount(accountFromJson(body));
                answer(res, {{"ok", true}});
              }));
  server.Post("/admin/access-numbers", withBody([this](const json& body, httplib::Response& res) {
                state_.setAccessNumber(body.at("target").get<std::string>(),
                                       body.at("access_number").get<std::string>());
                answer(res, {{"ok", true}});
              }));
  server.Post(
      "/admin/inbox", withBody([this](const json& body, httplib::Response& res) {
        const bool added = state_.addInboxEntry(
            body.at("username").get<std::string>(),
            {body.at("name").get<std::string>(), body.value("number", ""), body.value("text", "")});
        answer(res, {{"ok", added}}, added ? 200 : 404);
      }));
  server.Post("/admin/voicemail", withBody([this](const json& body, httplib::Response& res) {
                const bool added =
                    state_.addVoicemail(body.at("username").get<std::string>(),
                                        {body.value("from", ""), body.value("transcript", "")});
                answer(res, {{"ok", added}}, added ? 200 : 404);
              }));
}

}  // namespace pelorin::service
