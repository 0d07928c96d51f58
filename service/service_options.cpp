#include "service/service_options.h"

#include <charconv>
#include <string_view>

namespace pelorin::service {
namespace {

bool parsePort(std::string_view text, int& port) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  return error == std::errc() && end == text.data() + text.size() && port >= 0 && port <= 65535;
}

}  // namespace

const char* usage() {
  return "usage: pelorin-gv-service [--host ADDR] [--port N] [--admin-port N]\n"
         "         [--cert FILE --key FILE] [--cert-out FILE] [--accounts FILE]\n"
         "         [--no-demo-account] [--ready-file FILE] [--exit-on-stdin-eof]\n"
         "       pelorin-gv-service --version\n"
         "The stand-in Google Voice web service: HTTPS on loopback, with an admin\n"
         "interface to read its journal and plan faults. See pelorin-gv-service(1).\n";
}

std::optional<ServiceOptions> parseServiceOptions(int argc, char** argv, std::string& error) {
  ServiceOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view flag = argv[i];
    const bool hasValue = i + 1 < argc;
    auto value = [&]() -> std::string { return argv[++i]; };
    if (flag == "--help" || flag == "-h") return std::nullopt;
    if (flag == "--no-demo-account") {
      options.demoAccount = false;
    } else if (flag == "--exit-on-stdin-eof") {
      options.exitOnStdinEof = true;
    } else if (!hasValue) {
      error = "missing value or unknown option: " + std::string(flag);
      return std::nullopt;
    } else if (flag == "--port" || flag == "--admin-port") {
      int& port = flag == "--port" ? options.port : options.adminPort;
      if (!parsePort(argv[++i], port)) {
        error = "bad port: " + std::string(argv[i]);
        return std::nullopt;
      }
    } else if (flag == "--host") {
      options.host = value();
    } else if (flag == "--cert") {
      options.certificateFile = value();
    } else if (flag == "--key") {
      options.keyFile = value();
    } else if (flag == "--cert-out") {
      options.certificateOut = value();
    } else if (flag == "--accounts") {
      options.accountsFile = value();
    } else if (flag == "--ready-file") {
      options.readyFile = value();
    } else {
      error = "unknown option: " + std::string(flag);
      return std::nullopt;
    }
  }
  if (options.certificateFile.empty() != options.keyFile.empty()) {
    error = "--cert and --key go together";
    return std::nullopt;
  }
  return options;
}

}  // namespace pelorin::service
