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
  // Whether the service acting on the request twice does no harm. One that
  // is not (a text to send) goes out at most once: the client never sends it
  // again by itself, as it otherwise may when a reused connection closes
  // before any answer came.
  bool repeatable = true;
};

// The final reply after redirects: its status code and its body bytes.
struct HttpResponse {
  long status = 0;
  std::string body;
};

// What came of a request: the final reply, or none and whether the request
// may nonetheless have reached the service.
struct HttpOutcome {
  std::optional<HttpResponse> reply;
  // Without a reply: true when the request was, or may have been, written
  // before the exchange broke off (a time-out or a connection lost while
  // waiting for the answer, a failure after a redirect), so the service may
  // have acted on it; false when the failure shows that nothing reached the
  // service (no connection, the TLS handshake or verification failed, a URL
  // or scheme refused).
  bool mayHaveArrived = false;
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
  // transport failure. The outcome holds the final reply, whatever its
  // status; no reply on any transport failure (host unreachable, TLS
  // verification failed, connection dropped, time-out, malformed URL), and
  // then whether the request may have arrived. Never throws.
  virtual HttpOutcome send(const HttpRequest& request) = 0;

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
