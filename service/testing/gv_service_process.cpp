#include "service/testing/gv_service_process.h"

#include <fcntl.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

extern char** environ;

namespace pelorin::service::testing {
namespace {

using nlohmann::json;

std::string servicePath() {
  const char* path = std::getenv("PELORIN_GV_SERVICE");
  return path ? path : PELORIN_GV_SERVICE_PATH;
}

// The service's first line on `fd`, parsed; null when none came within 30 s.
json readyLine(int fd) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (line.empty() || line.back() != '\n') {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd readable{fd, POLLIN, 0};
    char c;
    if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0 ||
        ::read(fd, &c, 1) != 1)
      return nullptr;
    line += c;
  }
  return json::parse(line, nullptr, false);
}

}  // namespace

Text JournalRecord::header(const std::string& lowerCaseName) const {
  const auto it = headers.find(lowerCaseName);
  return it == headers.end() ? Text() : Text(it->second);
}

// The admin interface's client once the service runs; until then every call
// does nothing, and reads [].
class GvServiceProcess::Admin {
 public:
  void connect(const std::string& url) {
    client_.emplace(url);
    client_->set_connection_timeout(std::chrono::seconds(10));
    client_->set_read_timeout(std::chrono::seconds(30));
  }
  json get(const std::string& path) {
    if (!client_) return json::array();
    auto result = client_->Get(path);
    json body =
        result && result->status == 200 ? json::parse(result->body, nullptr, false) : json::array();
    return body.is_discarded() ? json::array() : body;
  }
  void post(const std::string& path, const json& body) {
    if (client_) client_->Post(path, body.dump(), "application/json");
  }
  void remove(const std::string& path) {
    if (client_) client_->Delete(path);
  }

 private:
  std::optional<httplib::Client> client_;
};

// The service exits when its standard input ends: when this object closes
// it, or when the test process dies and the system closes it.
GvServiceProcess::GvServiceProcess() : admin_(std::make_unique<Admin>()) {
  std::string pattern = (std::filesystem::temp_directory_path() / "pelorin-gv-XXXXXX").string();
  int input[2], output[2];
  if (::mkdtemp(pattern.data()) == nullptr || ::pipe2(input, O_CLOEXEC) != 0) return;
  folder_ = pattern;
  if (::pipe2(output, O_CLOEXEC) != 0) {
    ::close(input[0]);
    ::close(input[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  std::vector<std::string> args = {
      servicePath(),        "--port", "0", "--admin-port", "0", "--cert-out", folder_ + "/ca.pem",
      "--exit-on-stdin-eof"};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
  ::close(input[0]);
  ::close(output[1]);
  stdinWriter_ = input[1];
  const json ready = pid_ > 0 ? readyLine(output[0]) : json();
  ::close(output[0]);
  if (!ready.is_object() || !ready.contains("url")) return;
  adminURL_ = ready.value("admin_url", "");
  admin_->connect(adminURL_);
  caFile_ = folder_ + "/ca.pem";
  baseURL_ = ready.value("url", "");
}

GvServiceProcess::~GvServiceProcess() {
  if (stdinWriter_ >= 0) ::close(stdinWriter_);
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  std::error_code ignored;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

std::unique_ptr<platform::HttpClient> GvServiceProcess::newClient(
    std::chrono::milliseconds timeout) const {
  return platform::newCurlHttpClient({.trustStoreFile = caFile_, .timeout = timeout});
}

std::vector<JournalRecord> GvServiceProcess::journal() {
  std::vector<JournalRecord> records;
  for (const auto& entry : admin_->get("/admin/journal")) {
    JournalRecord record{.method = entry.value("method", ""),
                         .target = entry.value("target", ""),
                         .body = entry.value("body", ""),
                         .bodySize = entry.value("body_size", std::size_t{0}),
                         .status = entry.value("status", 0),
                         .dropped = entry.value("dropped", false)};
    const json headers = entry.value("headers", json::object());
    for (const auto& [name, value] : headers.items()) {
      std::string lower = name;
      std::transform(lower.begin(), lower.end(), lower.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      record.headers[lower] = value.get<std::string>();
    }
    records.push_back(std::move(record));
  }
  return records;
}

void GvServiceProcess::clearJournal() {
  admin_->remove("/admin/journal");
}

void GvServiceProcess::addFault(const FaultOrder& fault) {
  json order = {{"path", fault.path},
                {"count", fault.count},
                {"delay_ms", fault.delayMs},
                {"drop", fault.drop}};
  if (fault.status) order["status"] = *fault.status;
  if (fault.body) order["body"] = *fault.body;
  if (fault.location) order["location"] = *fault.location;
  if (fault.sendSmsResponse) order["send_sms_response"] = *fault.sendSmsResponse;
  admin_->post("/admin/faults", order);
}

void GvServiceProcess::clearFaults() {
  admin_->remove("/admin/faults");
}

void GvServiceProcess::expire(bool tokens, bool cookies) {
  admin_->post("/admin/expire", {{"tokens", tokens}, {"cookies", cookies}});
}

void GvServiceProcess::addAccount(const std::string& username, const std::string& password,
                                  const std::string& gvNumber, const std::string& balance) {
  admin_->post("/admin/accounts", {{"username", username},
                                   {"password", password},
                                   {"gv_number", gvNumber},
                                   {"balance", balance}});
}

void GvServiceProcess::setAccessNumber(const std::string& target, const std::string& accessNumber) {
  admin_->post("/admin/access-numbers", {{"target", target}, {"access_number", accessNumber}});
}

void GvServiceProcess::addInboxEntry(const std::string& name, const std::string& number,
                                     const std::string& text) {
  admin_->post("/admin/inbox",
               {{"username", kUser}, {"name", name}, {"number", number}, {"text", text}});
}

std::vector<SentTextRecord> GvServiceProcess::texts() {
  std::vector<SentTextRecord> texts;
  for (const auto& t : admin_->get("/admin/texts"))
    texts.push_back({t.value("username", ""), t.value("to", ""), t.value("text", "")});
  return texts;
}

std::vector<CallbackRecord> GvServiceProcess::callbacks() {
  std::vector<CallbackRecord> callbacks;
  for (const auto& c : admin_->get("/admin/callbacks")) {
    callbacks.push_back({c.value("outgoing", ""), c.value("forwarding", ""),
                         c.value("phone_type", ""), c.value("cancelled", false)});
  }
  return callbacks;
}

std::size_t GvServiceProcess::connectionCount() {
  const json stats = admin_->get("/admin/stats");
  return stats.is_object() ? stats.value("connections", std::size_t{0}) : 0;
}

}  // namespace pelorin::service::testing
