#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "service/fault_plan.h"
#include "service/request_journal.h"
#include "service/service_state.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace pelorin::service {

// What a route answers.
struct Reply {
  int status = 200;
  std::string body;
  std::string contentType = "text/html; charset=UTF-8";
  std::vector<std::pair<std::string, std::string>> headers;
};

// The Google Voice web protocol as the client speaks it: sign-in, tokens and
// account pages, texts, access numbers, call-backs, voicemail. Every request
// is journalled and may be made to fail by the fault plan first.
class VoiceRoutes {
 public:
  VoiceRoutes(ServiceState& state, RequestJournal& journal, FaultPlan& faults);

  // Registers every route on `server`, which must not outlive this object.
  void install(httplib::Server& server);

 private:
  using Route = Reply (VoiceRoutes::*)(const httplib::Request&, const Fault*);
  void serve(const httplib::Request& request, httplib::Response& response, Route route);
  void journal(const httplib::Request& request, int status, bool dropped);

  Reply signIn(const httplib::Request& request, const Fault*);
  Reply signOut(const httplib::Request& request, const Fault*);
  Reply signedOut(const httplib::Request& request, const Fault*);
  Reply mobileHome(const httplib::Request& request, const Fault*);
  Reply unreadCounts(const httplib::Request& request, const Fault*);
  Reply billing(const httplib::Request& request, const Fault*);
  Reply mobileAction(const httplib::Request& request, const Fault* fault);
  Reply recentTexts(const httplib::Request& request, const Fault*);
  Reply connectCallback(const httplib::Request& request, const Fault*);
  Reply cancelCallback(const httplib::Request& request, const Fault*);
  Reply notFound(const httplib::Request& request, const Fault*);

  Reply sendText(const std::string& user, const httplib::Request& request, const Fault* fault);
  Reply accessNumber(const std::string& user, const httplib::Request& request);

  // The account behind the request's Authorization field / "gvx" body value.
  std::optional<std::string> authorizedUser(const httplib::Request& request) const;
  std::optional<std::string> gvxUser(const httplib::Request& request) const;

  ServiceState& state_;
  RequestJournal& journal_;
  FaultPlan& faults_;
};

}  // namespace pelorin::service
