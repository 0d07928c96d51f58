// pelorin-gv-service: the stand-in Google Voice web service. HTTPS on a
// loopback port with a certificate of its own, a plain-HTTP admin port, and
// one ready line on standard output once both listen.
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string_view>
#include <thread>

#include "pelorin/version.h"
#include "service/account_json.h"
#include "service/admin_routes.h"
#include "service/certificate.h"
#include "service/service_options.h"
#include "service/voice_routes.h"

namespace pelorin::service {
namespace {

// Requests of one connection are served by one pool thread for as long as it
// stays open, so the pool is sized for many idle keep-alive connections.
constexpr std::size_t kServerThreads = 64;
constexpr std::size_t kRequestsPerConnection = 1'000'000;
constexpr time_t kKeepAliveSeconds = 30;
// Far above any request the client makes (a sign-in form, a call-back form,
// a "gvx" body); larger bodies are answered 413 without being kept.
constexpr std::size_t kMaxRequestBodyBytes = 1024 * 1024;

void tune(httplib::Server& server) {
  server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  server.set_tcp_nodelay(true);
  server.set_keep_alive_max_count(kRequestsPerConnection);
  server.set_keep_alive_timeout(kKeepAliveSeconds);
  server.set_payload_max_length(kMaxRequestBodyBytes);
}

std::optional<Certificate> identity(const ServiceOptions& options) {
  if (options.certificateFile.empty()) return generateSelfSignedCertificate();
  return loadCertificate(options.certificateFile, options.keyFile);
}

bool writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out.flush());
}

bool loadAccounts(const ServiceOptions& options, ServiceState& state) {
  if (options.demoAccount) state.addAccount(demoAccount());
  if (options.accountsFile.empty()) return true;
  std::string error;
  const auto accounts = readAccountsFile(options.accountsFile, error);
  if (!accounts) {
    std::cerr << "pelorin-gv-service: " << error << "\n";
    return false;
  }
  for (const auto& account : *accounts) state.addAccount(account);
  return true;
}

std::string urlHost(const std::string& host) {
  return host.find(':') == std::string::npos ? host : "[" + host + "]";
}

int run(const ServiceOptions& options) {
  const auto certificate = identity(options);
  if (!certificate) {
    std::cerr << "pelorin-gv-service: no usable certificate\n";
    return 1;
  }
  if (!options.certificateOut.empty() &&
      !writeFile(options.certificateOut, certificate->certificatePem)) {
    std::cerr << "pelorin-gv-service: cannot write " << options.certificateOut << "\n";
    return 1;
  }
  ServiceState state;
  RequestJournal journal;
  FaultPlan faults;
  if (!loadAccounts(options, state)) return 1;

  httplib::SSLServer voice([&](SSL_CTX& context) { return useCertificate(context, *certificate); });
  httplib::Server admin;
  if (!voice.is_valid()) {
    std::cerr << "pelorin-gv-service: TLS set-up failed\n";
    return 1;
  }
  tune(voice);
  tune(admin);
  VoiceRoutes voiceRoutes(state, journal, faults);
  AdminRoutes adminRoutes(state, journal, faults);
  voiceRoutes.install(voice);
  adminRoutes.install(admin);

  const int port = options.port == 0
                       ? voice.bind_to_any_port(options.host)
                       : (voice.bind_to_port(options.host, options.port) ? options.port : -1);
  const int adminPort =
      options.adminPort == 0
          ? admin.bind_to_any_port(options.host)
          : (admin.bind_to_port(options.host, options.adminPort) ? options.adminPort : -1);
  if (port <= 0 || adminPort <= 0) {
    std::cerr << "pelorin-gv-service: cannot listen on " << options.host << "\n";
    return 1;
  }
  std::thread adminThread([&] { admin.listen_after_bind(); });
  std::thread voiceThread([&] { voice.listen_after_bind(); });

  const nlohmann::json ready = {
      {"url", "https://" + urlHost(options.host) + ":" + std::to_string(port)},
      {"admin_url", "http://" + urlHost(options.host) + ":" + std::to_string(adminPort)},
      {"cacert", options.certificateOut}};
  if (!options.readyFile.empty()) writeFile(options.readyFile, ready.dump() + "\n");
  std::cout << ready.dump() << std::endl;

  if (options.exitOnStdinEof) {
    // The parent holds our standard input open; when it goes away, so do we.
    // Idle keep-alive connections would hold an orderly stop for their whole
    // time-out, and nothing here needs saving.
    while (std::getchar() != EOF) {
    }
    std::fflush(nullptr);
    std::_Exit(0);
  }
  voiceThread.join();
  adminThread.join();
  return 0;
}

}  // namespace
}  // namespace pelorin::service

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  std::string error;
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    std::cout << "pelorin-gv-service " << pelorin::kPelorinVersion << "\n";
    return 0;
  }
  const auto options = pelorin::service::parseServiceOptions(argc, argv, error);
  if (!options) {
    std::cerr << (error.empty() ? "" : "pelorin-gv-service: " + error + "\n")
              << pelorin::service::usage();
    return error.empty() ? 0 : 2;
  }
  return pelorin::service::run(*options);
}
