#pragma once

#include <optional>
#include <string>

namespace pelorin::service {

// How the stand-in service is started; see `usage()`.
struct ServiceOptions {
  std::string host = "127.0.0.1";
  int port = 0;                 // 0: any free port
  int adminPort = 0;            // 0: any free port
  std::string certificateFile;  // with keyFile: serve this identity instead of a fresh one
  std::string keyFile;
  std::string certificateOut;  // where to write the certificate clients must trust
  std::string accountsFile;    // JSON array of accounts to preload
  bool demoAccount = true;
  std::string readyFile;  // where to write the ready line too
  bool exitOnStdinEof = false;
};

// The options, or nullopt with `error` set (empty `error` for --help).
std::optional<ServiceOptions> parseServiceOptions(int argc, char** argv, std::string& error);

const char* usage();

}  // namespace pelorin::service
