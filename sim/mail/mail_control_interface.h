#pragma once

#include <systemd/sd-bus.h>

#include <functional>
#include <string>

#include "sim/mail/sim_mail_store.h"

namespace pelorin::sim {

// The Mail host's control interface on the session bus:
//
//   DeliverMail(s account, s mailbox, s path) -> s messageID
//       reads an RFC 822 file (a regular file, not through a link at the
//       path; see MailFile), stores it, then announces it and sets its body;
//       account and mailbox up to 256 bytes, the path up to 4096
//   Announce(s messageID)     the store announces a stored message again
//   SetBody(s messageID)      the store sets a stored message's body again
//   ListMail(u offset, u limit) -> s json
//       a page of the stored messages (listing_page.h)
//   signal Event(s json)
//
// Handlers run on the thread that serves the bus and answer at once; the
// announcing and body setting they start run afterwards through `later`, so a
// tweak's work never holds a reply back. Bad input is answered with
// com.talvern.sim.Error.Refused and changes nothing.
class MailControlInterface {
 public:
  static constexpr char kInterface[] = "com.talvern.sim.Mail";
  using Executor = std::function<void(std::function<void()>)>;

  MailControlInterface(SimMailStore& store, Executor later)
      : store_(store), later_(std::move(later)) {}
  MailControlInterface(const MailControlInterface&) = delete;
  MailControlInterface& operator=(const MailControlInterface&) = delete;

  int attach(sd_bus* bus, const std::string& objectPath);

  // What DeliverMail does once the mail is stored: announce, then set the body.
  static void arrive(SimMailStore& store, const Executor& later, const std::string& messageID);

 private:
  static int onDeliverMail(sd_bus_message* call, void* self, sd_bus_error* error);
  static int onAnnounce(sd_bus_message* call, void* self, sd_bus_error* error);
  static int onSetBody(sd_bus_message* call, void* self, sd_bus_error* error);
  static int onListMail(sd_bus_message* call, void* self, sd_bus_error* error);

  static const sd_bus_vtable kVTable[];
  SimMailStore& store_;
  const Executor later_;
};

}  // namespace pelorin::sim
