#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/http_client.h"
#include "platform/text.h"

#include "service/fault_plan.h"

namespace pelorin::service::testing {

// One request as the stand-in journalled it. Header names are lower-case.
struct JournalRecord {
  std::string method;
  std::string target;
  std::map<std::string, std::string> headers;
  std::string body;          // its start only, when it was large
  std::size_t bodySize = 0;  // the whole body's size
  int status = 0;
  bool dropped = false;

  Text header(const std::string& lowerCaseName) const;
};

// An order to misbehave, as the service keeps it; see its README for each aspect.
using FaultOrder = service::Fault;

struct SentTextRecord {
  std::string username;
  std::string to;
  std::string text;
};

struct CallbackRecord {
  std::string outgoing;
  std::string forwarding;
  std::string phoneType;
  bool cancelled = false;
};

// The stand-in Google Voice service as a child process for one test: started
// on free loopback ports with a fresh certificate, stopped (and gone) when the
// object is destroyed, or when the test process dies. The admin calls block
// until the service answered; they report failures as empty results.
class GvServiceProcess {
 public:
  static constexpr const char* kUser = "pelorin.demo@gmail.com";
  static constexpr const char* kPassword = "voice-demo";

  GvServiceProcess();
  ~GvServiceProcess();
  GvServiceProcess(const GvServiceProcess&) = delete;
  GvServiceProcess& operator=(const GvServiceProcess&) = delete;

  // Whether the service started and announced its ports.
  bool running() const { return !baseURL_.empty(); }
  const std::string& baseURL() const { return baseURL_; }
  const std::string& caFile() const { return caFile_; }
  // The admin interface: plain HTTP on loopback.
  const std::string& adminURL() const { return adminURL_; }

  // A client that trusts this service, with a cookie store of its own.
  std::unique_ptr<platform::HttpClient> newClient(
      std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;

  std::vector<JournalRecord> journal();
  void clearJournal();
  void addFault(const FaultOrder& fault);
  void clearFaults();
  void expire(bool tokens, bool cookies);
  void addAccount(const std::string& username, const std::string& password,
                  const std::string& gvNumber, const std::string& balance);
  void setAccessNumber(const std::string& target, const std::string& accessNumber);
  void addInboxEntry(const std::string& name, const std::string& number, const std::string& text);
  std::vector<SentTextRecord> texts();
  std::vector<CallbackRecord> callbacks();
  // Distinct client connections the voice routes have seen.
  std::size_t connectionCount();

 private:
  class Admin;

  std::string folder_;
  int pid_ = -1;
  int stdinWriter_ = -1;
  std::string baseURL_;
  std::string caFile_;
  std::string adminURL_;
  std::unique_ptr<Admin> admin_;
};

}  // namespace pelorin::service::testing
