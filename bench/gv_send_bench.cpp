// A warm text through GVInterface against the stand-in service, next to a
// bare libcurl POST of the same request over the same kind of reused
// connection: what the client adds on top of the transport. And 1,000 sends
// from one process must use one connection.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <memory>
#include <string>

#include "platform/http_client.h"
#include "service/testing/gv_service_process.h"
#include "voice/gv_interface.h"

namespace pelorin {
namespace {

using service::testing::GvServiceProcess;

constexpr const char* kRecipient = "14155550123";
constexpr const char* kText = "Benchmark text & more";

// A signed-in client with a service of its own, warmed by one send.
struct WarmClient {
  GvServiceProcess service;
  std::unique_ptr<platform::HttpClient> http = service.newClient();
  GVInterface gv{service.baseURL()};

  WarmClient() {
    platform::setHttpClient(http.get());
    gv.setUserName(GvServiceProcess::kUser);
    gv.setPassword(GvServiceProcess::kPassword);
    gv.sendSMSwithRetry(kText, kRecipient);
  }
  ~WarmClient() { platform::setHttpClient(nullptr); }
};

void BM_GVInterfaceWarmSend(benchmark::State& state) {
  WarmClient client;
  for (auto _ : state) {
    if (!client.gv.sendSMSwithRetry(kText, kRecipient)) state.SkipWithError("send failed");
  }
  state.counters["connections"] = static_cast<double>(client.service.connectionCount());
}
BENCHMARK(BM_GVInterfaceWarmSend)->Unit(benchmark::kMicrosecond);

std::size_t discard(char*, std::size_t size, std::size_t count, void*) {
  return size * count;
}

// The same request with curl alone: same URL, fields and body, one handle.
void BM_BareCurlPost(benchmark::State& state) {
  WarmClient client;
  const std::string url =
      client.service.baseURL() + "/voice/m/x?m=sms&n=14155550123&txt=Benchmark%20text%20%26%20more";
  const std::string body = "{\"gvx\":\"" + client.gv.gvxCookie().value_or("") + "\"}";
  curl_slist* fields = nullptr;
  fields = curl_slist_append(
      fields, ("Authorization: GoogleLogin auth=" + client.gv.authToken().value_or("")).c_str());
  fields = curl_slist_append(fields, "User-Agent: Mozilla/5.0 (iPhone)");
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CAINFO, client.service.caFile().c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, fields);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &discard);
  for (auto _ : state) {
    long status = 0;
    if (curl_easy_perform(curl) != CURLE_OK) state.SkipWithError("POST failed");
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) state.SkipWithError("POST refused");
  }
  long connects = 0;
  curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connects);
  state.counters["new_connections_last_request"] = static_cast<double>(connects);
  curl_easy_cleanup(curl);
  curl_slist_free_all(fields);
}
BENCHMARK(BM_BareCurlPost)->Unit(benchmark::kMicrosecond);

// 1,000 texts from a fresh process state, first one included: one connection.
void BM_ThousandSendsOneConnection(benchmark::State& state) {
  for (auto _ : state) {
    GvServiceProcess service;
    auto http = service.newClient();
    platform::setHttpClient(http.get());
    GVInterface gv(service.baseURL());
    gv.setUserName(GvServiceProcess::kUser);
    gv.setPassword(GvServiceProcess::kPassword);
    int sent = 0;
    for (int i = 0; i < 1000; ++i) sent += gv.sendSMSwithRetry(kText, kRecipient);
    const auto connections = service.connectionCount();
    platform::setHttpClient(nullptr);
    state.counters["sent"] = sent;
    state.counters["connections"] = static_cast<double>(connections);
    if (sent != 1000 || connections != 1)
      state.SkipWithError("expected 1,000 sends on one connection");
  }
}
BENCHMARK(BM_ThousandSendsOneConnection)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pelorin

BENCHMARK_MAIN();
