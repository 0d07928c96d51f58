#include "platform/http_client.h"

#include <atomic>

namespace pelorin::platform {
namespace {

std::atomic<HttpClient*> installedClient{nullptr};

}  // namespace

HttpClient& httpClient() {
  if (auto* client = installedClient.load()) return *client;
  static auto* const fallback =
      newCurlHttpClient({.trustStoreFile = voiceServiceTrustStore()}).release();
  return *fallback;
}

void setHttpClient(HttpClient* client) {
  installedClient.store(client);
}

}  // namespace pelorin::platform
