#pragma once

#include <httplib.h>

#include <optional>
#include <string>

namespace pelorin::sim::web {

// Who may use the web view: a browser on this machine that was given the
// token. Every request must name the server by its loopback address and port
// in `Host` (so a foreign name that resolves to 127.0.0.1, DNS rebinding,
// gets nowhere) and carry the token, in the query (`?token=`, the printed
// URL) or in the cookie the first page load sets (HttpOnly, SameSite=Strict,
// so another site's page never sends it). A request that changes something
// (POST) must also come from the server's own origin: `Origin` must be
// present and equal to it. Reading, writing and safe for any thread.
class RequestGuard {
 public:
  struct Refusal {
    int status;
    std::string why;
  };

  // `token` is the secret; `port` the one the server listens on.
  RequestGuard(std::string token, int port);

  // 32 random bytes as hex, from OpenSSL's generator; nothing when it failed.
  static std::optional<std::string> newToken();

  // Nothing when the request may go on, else the status and reason to answer.
  std::optional<Refusal> check(const httplib::Request& request) const;

  // The Set-Cookie value that hands the token to the browser.
  std::string cookie() const;
  const std::string& token() const { return token_; }

 private:
  bool holdsToken(const httplib::Request& request) const;
  bool sameToken(const std::string& offered) const;
  std::optional<std::string> cookieToken(const std::string& header) const;

  const std::string token_;
  const int port_;
  // One cookie per server: browsers share cookies among the ports of a host.
  const std::string cookieName_;
};

}  // namespace pelorin::sim::web
