// The HTTPS client on libcurl: one share handle carries the cookie store,
// the connection cache, DNS results and TLS sessions of every request made
// through one client; easy handles are pooled so a warm request costs no set-up.
#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <string_view>

#include "platform/http_client.h"

namespace pelorin::platform {
namespace {

constexpr std::string_view kDefaultVoiceServiceURL = "https://www.google.com";

// Fields curl would add by itself; an empty value tells it not to. The
// client sends only the fields the caller names.
constexpr std::array<const char*, 3> kSuppressedFields = {"Accept:", "Expect:", "Content-Type:"};

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

// A cookie line of CURLINFO_COOKIELIST: domain, tailmatch, path, secure,
// expiry, name, value, separated by tabs.
struct CookieLine {
  std::string key;  // domain, path and name: what identifies a stored cookie
  HttpCookie cookie;
};

std::optional<CookieLine> parseCookieLine(std::string_view line) {
  std::array<std::string_view, 7> fields;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::size_t tab = line.find('\t');
    if (i + 1 < fields.size() && tab == std::string_view::npos) return std::nullopt;
    fields[i] = i + 1 < fields.size() ? line.substr(0, tab) : line;
    if (i + 1 < fields.size()) line.remove_prefix(tab + 1);
  }
  std::string_view domain = fields[0];
  if (domain.starts_with("#HttpOnly_")) domain.remove_prefix(10);
  std::string key =
      std::string(domain) + '\t' + std::string(fields[2]) + '\t' + std::string(fields[5]);
  return CookieLine{std::move(key), {std::string(fields[5]), std::string(fields[6])}};
}

// Owns a curl_slist.
struct HeaderList {
  curl_slist* list = nullptr;
  ~HeaderList() { curl_slist_free_all(list); }
  void append(const std::string& line) {
    if (curl_slist* grown = curl_slist_append(list, line.c_str())) list = grown;
  }
};

// What one request's callbacks learn.
struct ReplyCapture {
  bool repeatable = true;
  std::string body;
  bool setsCookies = false;
  // A request went out on a connection (it may have reached the service).
  bool requestStarted = false;
  // The latest request went out and no line of its answer came yet.
  bool awaitingAnswer = false;
};

std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* capture) {
  static_cast<ReplyCapture*>(capture)->body.append(data, size * count);
  return size * count;
}

std::size_t noteHeader(char* data, std::size_t size, std::size_t count, void* capture) {
  auto* reply = static_cast<ReplyCapture*>(capture);
  reply->awaitingAnswer = false;
  if (startsWithNoCase(std::string_view(data, size * count), "set-cookie:")) {
    reply->setsCookies = true;
  }
  return size * count;
}

// Called once the connection (and its TLS handshake) is ready, right before a
// request is written on it: from here on the service may receive it.
int noteRequestStart(void* capture, char*, char*, int, int) {
  auto* reply = static_cast<ReplyCapture*>(capture);
  reply->requestStarted = true;
  reply->awaitingAnswer = true;
  return CURL_PREREQFUNC_OK;
}

// Called for every new connection's socket. libcurl opens one while a request
// that went out still awaits its answer only to send that request again (it
// does so, without a switch to stop it, when a reused connection closed
// before any answer): refused for a request that must not be repeated.
int vetoRepeat(void* capture, curl_socket_t, curlsocktype) {
  const auto* reply = static_cast<const ReplyCapture*>(capture);
  const bool repeat = reply != nullptr && reply->awaitingAnswer && !reply->repeatable;
  return repeat ? CURL_SOCKOPT_ERROR : CURL_SOCKOPT_OK;
}

class CurlHttpClient final : public HttpClient {
 public:
  explicit CurlHttpClient(CurlHttpClientOptions options);
  ~CurlHttpClient() override;

  HttpOutcome send(const HttpRequest& request) override;
  std::vector<HttpCookie> cookies() override;

 private:
  CURL* takeHandle();
  void returnHandle(CURL* handle);
  void setUp(CURL* handle);
  void prepare(CURL* handle, const HttpRequest& request, HeaderList& fields, ReplyCapture& reply);
  std::vector<CookieLine> storedCookies(CURL* handle);
  void noteCookieOrder(const std::vector<CookieLine>& stored);

  static void lockShare(CURL*, curl_lock_data data, curl_lock_access, void* self);
  static void unlockShare(CURL*, curl_lock_data data, void* self);

  const CurlHttpClientOptions options_;
  CURLSH* share_ = nullptr;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> shareLocks_;  // one per kind of shared data

  // Guarded by poolMutex_:
  std::mutex poolMutex_;
  std::vector<CURL*> idleHandles_;

  // Guarded by orderMutex_: cookie keys in the order first stored.
  std::mutex orderMutex_;
  std::vector<std::string> cookieOrder_;
};

CurlHttpClient::CurlHttpClient(CurlHttpClientOptions options) : options_(std::move(options)) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  share_ = curl_share_init();
  curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &CurlHttpClient::lockShare);
  curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &CurlHttpClient::unlockShare);
  curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
  for (auto data : {CURL_LOCK_DATA_COOKIE, CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_DNS,
                    CURL_LOCK_DATA_SSL_SESSION}) {
    curl_share_setopt(share_, CURLSHOPT_SHARE, data);
  }
}

CurlHttpClient::~CurlHttpClient() {
  for (CURL* handle : idleHandles_) curl_easy_cleanup(handle);
  curl_share_cleanup(share_);
}

void CurlHttpClient::lockShare(CURL*, curl_lock_data data, curl_lock_access, void* self) {
  static_cast<CurlHttpClient*>(self)->shareLocks_.at(data).lock();
}

void CurlHttpClient::unlockShare(CURL*, curl_lock_data data, void* self) {
  static_cast<CurlHttpClient*>(self)->shareLocks_.at(data).unlock();
}

CURL* CurlHttpClient::takeHandle() {
  {
    std::lock_guard lock(poolMutex_);
    if (!idleHandles_.empty()) {
      CURL* handle = idleHandles_.back();
      idleHandles_.pop_back();
      return handle;
    }
  }
  CURL* handle = curl_easy_init();
  if (handle != nullptr) setUp(handle);
  return handle;
}

// Handles are not reset between requests: a reset would drop, not free, the
// handle's cookie-file list, and setting that list again for every request
// makes it grow. prepare() sets every option a request changes.
void CurlHttpClient::returnHandle(CURL* handle) {
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, nullptr);
  for (const CURLoption data :
       {CURLOPT_WRITEDATA, CURLOPT_HEADERDATA, CURLOPT_PREREQDATA, CURLOPT_SOCKOPTDATA}) {
    curl_easy_setopt(handle, data, nullptr);
  }
  std::lock_guard lock(poolMutex_);
  idleHandles_.push_back(handle);
}

void CurlHttpClient::setUp(CURL* handle) {
  curl_easy_setopt(handle, CURLOPT_SHARE, share_);
  curl_easy_setopt(handle, CURLOPT_COOKIEFILE, "");
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  // HTTPS only, also for redirects: a request carries passwords and tokens.
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 20L);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(options_.timeout.count()));
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!options_.trustStoreFile.empty()) {
    curl_easy_setopt(handle, CURLOPT_CAINFO, options_.trustStoreFile.c_str());
  }
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &appendBody);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &noteHeader);
  curl_easy_setopt(handle, CURLOPT_PREREQFUNCTION, &noteRequestStart);
  curl_easy_setopt(handle, CURLOPT_SOCKOPTFUNCTION, &vetoRepeat);
}

void CurlHttpClient::prepare(CURL* handle, const HttpRequest& request, HeaderList& fields,
                             ReplyCapture& reply) {
  curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
  const bool custom = request.method != "GET" && request.method != "POST";
  curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, custom ? request.method.c_str() : nullptr);
  if (request.method == "GET") {
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.body.size()));
  }

  for (const char* suppressed : kSuppressedFields) fields.append(suppressed);
  for (const auto& field : request.headerFields) fields.append(field.name + ": " + field.value);
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, fields.list);
  reply.repeatable = request.repeatable;
  for (const CURLoption data :
       {CURLOPT_WRITEDATA, CURLOPT_HEADERDATA, CURLOPT_PREREQDATA, CURLOPT_SOCKOPTDATA}) {
    curl_easy_setopt(handle, data, &reply);
  }
}

HttpOutcome CurlHttpClient::send(const HttpRequest& request) {
  CURL* handle = takeHandle();
  if (handle == nullptr) return {};
  HeaderList fields;
  ReplyCapture reply;
  prepare(handle, request, fields, reply);

  HttpOutcome result;
  if (curl_easy_perform(handle) == CURLE_OK) {
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    result.reply = HttpResponse{status, std::move(reply.body)};
  } else {
    result.mayHaveArrived = reply.requestStarted;
  }
  // Cookies set by this reply take their place in the store order now, so
  // cookies of different hosts keep the order in which they arrived.
  if (reply.setsCookies) noteCookieOrder(storedCookies(handle));
  returnHandle(handle);
  return result;
}

std::vector<CookieLine> CurlHttpClient::storedCookies(CURL* handle) {
  curl_slist* list = nullptr;
  std::vector<CookieLine> stored;
  if (curl_easy_getinfo(handle, CURLINFO_COOKIELIST, &list) != CURLE_OK) return stored;
  for (curl_slist* line = list; line != nullptr; line = line->next) {
    if (auto parsed = parseCookieLine(line->data)) stored.push_back(std::move(*parsed));
  }
  curl_slist_free_all(list);
  return stored;
}

void CurlHttpClient::noteCookieOrder(const std::vector<CookieLine>& stored) {
  std::lock_guard lock(orderMutex_);
  for (const auto& line : stored) {
    if (std::find(cookieOrder_.begin(), cookieOrder_.end(), line.key) == cookieOrder_.end()) {
      cookieOrder_.push_back(line.key);
    }
  }
}

std::vector<HttpCookie> CurlHttpClient::cookies() {
  CURL* handle = takeHandle();
  if (handle == nullptr) return {};
  std::vector<CookieLine> stored = storedCookies(handle);
  returnHandle(handle);

  noteCookieOrder(stored);
  std::lock_guard lock(orderMutex_);
  auto rank = [this](const CookieLine& line) {
    return std::find(cookieOrder_.begin(), cookieOrder_.end(), line.key) - cookieOrder_.begin();
  };
  std::stable_sort(stored.begin(), stored.end(),
                   [&](const CookieLine& a, const CookieLine& b) { return rank(a) < rank(b); });
  std::vector<HttpCookie> result;
  result.reserve(stored.size());
  for (auto& line : stored) result.push_back(std::move(line.cookie));
  return result;
}

}  // namespace

std::unique_ptr<HttpClient> newCurlHttpClient(const CurlHttpClientOptions& options) {
  return std::make_unique<CurlHttpClient>(options);
}

std::string voiceServiceBaseURL() {
  std::string url = environmentValue("PELORIN_GV_URL");
  if (url.empty()) return std::string(kDefaultVoiceServiceURL);
  while (url.size() > 1 && url.back() == '/') url.pop_back();
  return url;
}

bool isHttpsURL(std::string_view url) {
  return startsWithNoCase(url, "https://");
}

std::string voiceServiceTrustStore() {
  return environmentValue("PELORIN_GV_CACERT");
}

}  // namespace pelorin::platform
