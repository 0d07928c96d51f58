#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin::platform {

// One header field of a request, sent as given.
struct HttpHeaderField {
  std::string name;
  std::string value;
};

// One request: the method ("GET", "POST", ...), the full URL (scheme, host,
// port, path and query, already escaped), the header fields to set and the
// body bytes. Only the named fields are set; the client adds nothing but what
// the protocol itself needs (Host, Content-Length) and the stored cookies.
struct HttpRequest {
  std::string method = "GET";
  std::string url;
  std::vector<HttpHeaderField> headerFields;
  std::string body;
};

// The final reply after redirects: its status code and its body bytes.
struct HttpResponse {
  long status = 0;
  std::string body;
};

// A stored cookie, as the cookie store lists it.
struct HttpCookie {
  std::string name;
  std::string value;
};

// The process's HTTPS client. Every request of the process shares one cookie
// store and one pool of connections, so cookies set by a reply are sent back
// with later requests to the same host and a warm connection is reused.
// TLS peer verification is always on. Implementations are thread-safe: any
// thread may call any method at any time, concurrently.
class HttpClient {
 public:
  HttpClient() = default;
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;
  virtual ~HttpClient() = default;

  // Sends `request` and blocks until the whole reply is in, following
  // redirects. HTTPS only: a URL or a redirect to any other scheme is a
  // transport failure. Returns the final reply, whatever its status; nullopt on any
  // transport failure (host unreachable, TLS verification failed, connection
  // dropped, time-out, malformed URL). Never throws.
  virtual std::optional<HttpResponse> send(const HttpRequest& request) = 0;

  // Every cookie in the store, in the order they were first stored, across
  // all hosts and paths.
  virtual std::vector<HttpCookie> cookies() = 0;
};

// The process's client. The default (created on first use, never destroyed)
// is the libcurl client with the trust store named by PELORIN_GV_CACERT, or
// the system's when that is unset. A test may install its own for the length
// of the test (nullptr restores the default); it must outlive its installation.
HttpClient& httpClient();
void setHttpClient(HttpClient* client);

struct CurlHttpClientOptions {
  // PEM file of the certificates to trust; empty: the system's trust store.
  std::string trustStoreFile;
  // The longest a request may take: the phone's own default. Tests only.
  std::chrono::milliseconds timeout{60'000};
};

// A libcurl client with a cookie store and connection pool of its own. The
// caller owns it; it may be destroyed only when no request is in flight.
std::unique_ptr<HttpClient> newCurlHttpClient(const CurlHttpClientOptions& options);

// The Google Voice service's base URL (scheme, host and optional port, no
// trailing slash): PELORIN_GV_URL, or "https://www.google.com" when unset.
// Read on every call. Given as set: a URL that is not https:// is refused by
// the client (see isHttpsURL).
std::string voiceServiceBaseURL();

// Whether `url` starts with "https://" (any letter case): the only scheme
// the client talks.
bool isHttpsURL(std::string_view url);

// The trust store the default client uses: PELORIN_GV_CACERT, or empty.
std::string voiceServiceTrustStore();

}  // namespace pelorin::platform
