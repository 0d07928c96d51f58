#include "sim/web/request_guard.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <array>

namespace pelorin::sim::web {

RequestGuard::RequestGuard(std::string token, int port)
    : token_(std::move(token)), port_(port), cookieName_("pelorin_web_" + std::to_string(port)) {}

std::optional<std::string> RequestGuard::newToken() {
  std::array<unsigned char, 32> bytes;
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) return std::nullopt;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char byte : bytes) {
    token += kHex[byte >> 4];
    token += kHex[byte & 15];
  }
  return token;
}

std::optional<RequestGuard::Refusal> RequestGuard::check(const httplib::Request& request) const {
  const std::string port = ":" + std::to_string(port_);
  const std::string host = request.get_header_value("Host");
  if (host != "127.0.0.1" + port && host != "localhost" + port) {
    return Refusal{403, "refused: the Host must be 127.0.0.1" + port};
  }
  if (!holdsToken(request)) {
    return Refusal{403, "refused: open the URL pelorin-web printed (it holds the token)"};
  }
  if (request.method == "GET" || request.method == "HEAD") return std::nullopt;
  if (request.method != "POST") return Refusal{405, "refused: method not allowed"};
  if (!request.has_header("Origin") || request.get_header_value("Origin") != "http://" + host) {
    return Refusal{403, "refused: a change must come from this page's own origin"};
  }
  return std::nullopt;
}

std::string RequestGuard::cookie() const {
  return cookieName_ + "=" + token_ + "; Path=/; HttpOnly; SameSite=Strict";
}

bool RequestGuard::holdsToken(const httplib::Request& request) const {
  if (request.has_param("token")) return sameToken(request.get_param_value("token"));
  const auto fromCookie = cookieToken(request.get_header_value("Cookie"));
  return fromCookie && sameToken(*fromCookie);
}

bool RequestGuard::sameToken(const std::string& offered) const {
  return offered.size() == token_.size() &&
         CRYPTO_memcmp(offered.data(), token_.data(), token_.size()) == 0;
}

// The value of our cookie in a Cookie header ("a=1; b=2").
std::optional<std::string> RequestGuard::cookieToken(const std::string& header) const {
  std::size_t start = 0;
  while (start < header.size()) {
    std::size_t end = header.find(';', start);
    if (end == std::string::npos) end = header.size();
    std::string_view pair(header.data() + start, end - start);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    if (pair.size() > cookieName_.size() && pair.substr(0, cookieName_.size()) == cookieName_ &&
        pair[cookieName_.size()] == '=') {
      return std::string(pair.substr(cookieName_.size() + 1));
    }
    start = end + 1;
  }
  return std::nullopt;
}

}  // namespace pelorin::sim::web
