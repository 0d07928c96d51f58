#pragma once

#include "service/fault_plan.h"
#include "service/request_journal.h"
#include "service/service_state.h"

namespace httplib {
class Server;
}

namespace pelorin::service {

// The control and inspection interface of the stand-in, JSON over plain HTTP
// on loopback under "/admin/": accounts, the journal, faults, token expiry,
// texts sent, access numbers, call-backs, inbox and voicemail. The routes and
// their bodies are listed in service/README.md.
class AdminRoutes {
 public:
  AdminRoutes(ServiceState& state, RequestJournal& journal, FaultPlan& faults);

  // Registers every route on `server`, which must not outlive this object.
  void install(httplib::Server& server);

 private:
  void installInspection(httplib::Server& server);
  void installControl(httplib::Server& server);

  ServiceState& state_;
  RequestJournal& journal_;
  FaultPlan& faults_;
};

}  // namespace pelorin::service
