#include "sim/web/device_api.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <sstream>

#include "platform/files.h"
#include "sim/messaging_daemon/host_limits.h"

namespace pelorin::sim::web {
namespace {

using httplib::Request;
using httplib::Response;
using nlohmann::json;

void answer(Response& response, int status, const json& body) {
  response.status = status;
  response.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace),
                       "application/json");
}

void refuse(Response& response, int status, const std::string& why) {
  answer(response, status, {{"error", why}});
}

template <typename T>
bool answeredFailure(Response& response, const CallResult<T>& result) {
  if (result.value) return false;
  refuse(response, result.refused ? 400 : 502, result.error);
  return true;
}

// The body, or nothing once a refusal was answered (too large). A body cut
// short leaves the connection unusable, so it is closed after the answer.
std::optional<std::string> readBody(const Request& request, const httplib::ContentReader& reader,
                                    std::size_t cap, const std::string& what, Response& response) {
  std::string body;
  bool tooLarge = request.get_header_value<std::uint64_t>("Content-Length") > cap;
  if (!tooLarge) {
    reader([&](const char* data, std::size_t length) {
      tooLarge = body.size() + length > cap;
      if (!tooLarge) body.append(data, length);
      return !tooLarge;
    });
  }
  if (!tooLarge) return body;
  response.set_header("Connection", "close");
  refuse(response, 413, what + " may be at most " + std::to_string(cap >> 10) + " KiB");
  return std::nullopt;
}

// A tool's --json output: one object per line.
json jsonLines(const std::string& text) {
  json lines = json::array();
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    auto value = json::parse(line, nullptr, false);
    if (!value.is_discarded()) lines.push_back(std::move(value));
  }
  return lines;
}

// What a tool said went wrong, for a person: its first line of complaint.
std::string toolComplaint(const ToolResult& result) {
  if (!result.problem.empty()) return result.problem;
  std::string line = result.err.substr(0, result.err.find('\n'));
  if (const auto colon = line.find(": "); colon != std::string::npos && colon < 20) {
    line.erase(0, colon + 2);
  }
  return line.empty() ? "failed" : line;
}

std::optional<std::string> textMember(const json& body, const char* key) {
  const auto it = body.find(key);
  if (it == body.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

// A value the page typed (a text, a number or a boolean) as the tool takes it.
std::optional<std::string> valueText(const json& body, const char* key) {
  const auto it = body.find(key);
  if (it == body.end()) return std::nullopt;
  if (it->is_string()) return it->get<std::string>();
  if (it->is_boolean()) return it->get<bool>() ? "true" : "false";
  if (it->is_number_integer()) return it->dump();
  return std::nullopt;
}

// An address the hosts accept: not empty, within their limit.
std::optional<std::string> addressProblem(const std::string& address) {
  if (address.empty()) return "a recipient is empty";
  if (address.size() > limits::kMaxAddressBytes) {
    return "a recipient is longer than " + std::to_string(limits::kMaxAddressBytes) + " bytes";
  }
  return std::nullopt;
}

bool isSwitchIdentifier(const std::string& id) {
  if (id.empty() || id.size() > 255 || id.front() == '-') return false;
  return id.find_first_not_of(
             "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-") ==
         std::string::npos;
}

// Writes `bytes` to a new 0600 file in `folder` (made 0700 when missing).
std::optional<std::string> writeNewPrivateFile(const std::string& folder,
                                               const std::string& bytes) {
  static std::atomic<unsigned> counter{0};
  mkdir(folder.c_str(), 0700);
  const auto now = std::chrono::system_clock::now().time_since_epoch().count();
  const std::string path = folder + "/mail-" + std::to_string(now) + "-" +
                           std::to_string(getpid()) + "-" + std::to_string(counter++) + ".eml";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return std::nullopt;
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  const bool complete = ::close(fd) == 0 && written == bytes.size();
  if (!complete) ::unlink(path.c_str());
  return complete ? std::optional(path) : std::nullopt;
}

}  // namespace

DeviceApi::DeviceApi(Config config, DeviceLink& link, const ToolRunner& tools,
                     AlertDismissals& dismissals)
    : config_(std::move(config)), link_(link), tools_(tools), dismissals_(dismissals) {}

void DeviceApi::install(httplib::Server& server) {
  server.Get("/api/messages", [this](const Request&, Response& r) { messages(r); });
  server.Get("/api/home", [this](const Request&, Response& r) { home(r); });
  server.Get("/api/mail", [this](const Request&, Response& r) { mail(r); });
  server.Get("/api/route", [this](const Request& q, Response& r) { route(q, r); });
  server.Get("/api/gv", [this](const Request&, Response& r) { serviceTexts(r); });
  const std::pair<const char*, std::vector<std::string>> readings[] = {
      {"/api/switches", {"pelorin-switches", "--json", "list"}},
      {"/api/settings", {"pelorinctl", "settings", "show", "--json"}},
      {"/api/rules", {"pelorinctl", "rules", "list", "--json"}},
      {"/api/contacts", {"pelorinctl", "contacts", "list", "--json"}},
  };
  for (const auto& [path, command] : readings) {
    server.Get(path, [this, command](const Request&, Response& r) {
      toolLines(r, command[0], {command.begin() + 1, command.end()});
    });
  }

  using Change = void (DeviceApi::*)(const json&, Response&);
  const std::pair<const char*, Change> changes[] = {
      {"/api/send", &DeviceApi::send},
      {"/api/alerts/dismiss", &DeviceApi::dismiss},
      {"/api/switches", &DeviceApi::changeSwitch},
      {"/api/settings", &DeviceApi::changeSetting},
  };
  auto jsonPost = [this, &server](const char* path,
                                  std::function<void(const json&, Response&)> fn) {
    server.Post(path, [fn](const Request& q, Response& r, const httplib::ContentReader& reader) {
      const auto body = readBody(q, reader, kMaxJsonBytes, "a request", r);
      if (!body) return;
      const auto parsed = json::parse(*body, nullptr, false);
      if (!parsed.is_object()) return refuse(r, 400, "expected a JSON object");
      fn(parsed, r);
    });
  };
  for (const auto& [path, change] : changes) {
    jsonPost(path, [this, change](const json& b, Response& r) { (this->*change)(b, r); });
  }
  jsonPost("/api/rules", [this](const json& b, Response& r) { changeRule(b, false, r); });
  jsonPost("/api/rules/delete", [this](const json& b, Response& r) { changeRule(b, true, r); });
  server.Post("/api/mail", [this](const Request& q, Response& r, const Reader& reader) {
    deliverMail(q, reader, r);
  });
  // Any other POST is answered without reading its body.
  server.Post(".*", [](const Request&, Response& r, const Reader&) {
    r.set_header("Connection", "close");
    refuse(r, 404, "no such action");
  });
}

void DeviceApi::messages(Response& response) {
  auto listed = link_.list(kDaemonHost, "ListMessages");
  if (answeredFailure(response, listed)) return;
  answer(response, 200, {{"items", std::move(*listed.value)}});
}

void DeviceApi::home(Response& response) {
  auto banners = link_.list(kSpringBoardHost, "ListBanners");
  if (answeredFailure(response, banners)) return;
  json alerts = json::array();
  for (const auto& [host, name] :
       {std::pair{kSpringBoardHost, "springboard"}, std::pair{kMessagesHost, "messages"}}) {
    auto listed = link_.list(host, "ListAlerts");
    // The home screen's alerts are required; the Messages host may be left out.
    if (std::string_view(name) == "springboard" && answeredFailure(response, listed)) return;
    if (!listed.value) continue;
    for (std::uint64_t index = 0; index < listed.value->size(); ++index) {
      json alert = (*listed.value)[index];
      if (!alert.is_object()) continue;
      alert["host"] = name;
      alert["index"] = index;
      alert["dismissed"] = dismissals_.dismissed(name, index);
      alerts.push_back(std::move(alert));
    }
  }
  answer(response, 200, {{"banners", std::move(*banners.value)}, {"alerts", std::move(alerts)}});
}

void DeviceApi::mail(Response& response) {
  auto listed = link_.list(kMailHost, "ListMail");
  if (answeredFailure(response, listed)) return;
  answer(response, 200, {{"items", std::move(*listed.value)}, {"account", config_.mailAccount}});
}

void DeviceApi::route(const Request& request, Response& response) {
  const std::string service = request.get_param_value("service");
  std::vector<std::string> arguments{"route", "--json"};
  if (service == "iMessage") arguments.push_back("--imessage");
  arguments.push_back("--");
  const std::size_t count = request.get_param_value_count("to");
  if (count == 0 || count > limits::kMaxRecipients) return refuse(response, 400, "no recipient");
  for (std::size_t i = 0; i < count; ++i) {
    const std::string to = request.get_param_value("to", i);
    if (auto problem = addressProblem(to)) return refuse(response, 400, *problem);
    arguments.push_back(to);
  }
  const auto decided = tools_.run("pelorinctl", arguments);
  if (decided.exitStatus != 0) return refuse(response, 500, toolComplaint(decided));
  // The same decision in words, step by step, for a person asking why.
  arguments.erase(arguments.begin() + 1);
  const auto explained = tools_.run("pelorinctl", arguments);
  answer(response, 200,
         {{"items", jsonLines(decided.out)},
          {"explanation", explained.exitStatus == 0 ? explained.out : ""}});
}

void DeviceApi::serviceTexts(Response& response) {
  const auto ready = platform::readWholeFile(config_.stateDir + "/gv-ready.json");
  if (!ready) return answer(response, 200, {{"available", false}});
  const auto readyLine = json::parse(*ready, nullptr, false);
  const std::string admin = readyLine.is_object() ? readyLine.value("admin_url", "") : "";
  if (admin.rfind("http://127.0.0.1:", 0) != 0) {
    return refuse(response, 502, "the Google Voice service names no local admin URL");
  }
  httplib::Client client(admin);
  client.set_connection_timeout(2);
  client.set_read_timeout(5);
  const auto reply = client.Get("/admin/texts");
  const auto texts = reply && reply->status == 200 ? json::parse(reply->body, nullptr, false)
                                                   : json(json::value_t::discarded);
  if (texts.is_discarded())
    return refuse(response, 502, "the Google Voice service does not answer");
  answer(response, 200, {{"available", true}, {"texts", texts}});
}

void DeviceApi::toolLines(Response& response, const std::string& tool,
                          const std::vector<std::string>& arguments) {
  const auto result = tools_.run(tool, arguments);
  if (result.exitStatus != 0) return refuse(response, 500, toolComplaint(result));
  answer(response, 200, {{"items", jsonLines(result.out)}});
}

void DeviceApi::runChange(Response& response, const std::string& tool,
                          const std::vector<std::string>& arguments) {
  const auto result = tools_.run(tool, arguments);
  if (result.exitStatus != 0) {
    return refuse(response, result.exitStatus == 2 ? 400 : 500, toolComplaint(result));
  }
  answer(response, 200, {{"ok", true}, {"items", jsonLines(result.out)}});
}

void DeviceApi::send(const json& body, Response& response) {
  const auto service = textMember(body, "service");
  const auto text = textMember(body, "text");
  const auto recipients = body.find("recipients");
  if (!service || (*service != "SMS" && *service != "iMessage")) {
    return refuse(response, 400, "the service must be SMS or iMessage");
  }
  if (!text || text->empty()) return refuse(response, 400, "type a text to send");
  if (text->size() > limits::kMaxTextBytes) {
    return refuse(response, 400,
                  "the text is " + std::to_string(text->size()) + " bytes long; at most " +
                      std::to_string(limits::kMaxTextBytes) + " can be sent");
  }
  if (recipients == body.end() || !recipients->is_array() || recipients->empty()) {
    return refuse(response, 400, "name at least one recipient");
  }
  if (recipients->size() > limits::kMaxRecipients)
    return refuse(response, 400, "too many recipients");
  std::vector<std::string> to;
  for (const auto& recipient : *recipients) {
    if (!recipient.is_string()) return refuse(response, 400, "a recipient is not a text");
    if (auto problem = addressProblem(recipient.get<std::string>())) {
      return refuse(response, 400, *problem);
    }
    to.push_back(recipient.get<std::string>());
  }
  const auto sent = link_.send(*service, to, *text);
  if (answeredFailure(response, sent)) return;
  answer(response, 200, {{"sent", *sent.value}});
}

void DeviceApi::dismiss(const json& body, Response& response) {
  const auto host = textMember(body, "host");
  const auto index = body.find("index");
  if (!host || (*host != "springboard" && *host != "messages") || index == body.end() ||
      !index->is_number_unsigned()) {
    return refuse(response, 400, "expected the alert's host and index");
  }
  auto alerts = link_.list(*host == "messages" ? kMessagesHost : kSpringBoardHost, "ListAlerts");
  if (answeredFailure(response, alerts)) return;
  const auto at = index->get<std::uint64_t>();
  if (at >= alerts.value->size()) return refuse(response, 404, "no such alert");
  const json& alert = (*alerts.value)[at];
  const std::string title = alert.is_object() && alert.value("title", json()).is_string()
                                ? alert["title"].get<std::string>()
                                : "";
  const bool recorded =
      dismissals_.dismiss(*host, at, textMember(body, "button").value_or(""), title);
  answer(response, 200, {{"ok", true}, {"recorded", recorded}});
}

void DeviceApi::changeSwitch(const json& body, Response& response) {
  const auto id = textMember(body, "identifier");
  const auto state = textMember(body, "state");
  if (!id || !isSwitchIdentifier(*id)) return refuse(response, 400, "no such switch identifier");
  if (state == "toggle") return runChange(response, "pelorin-switches", {"--json", "toggle", *id});
  if (state != "on" && state != "off") return refuse(response, 400, "a switch is on or off");
  runChange(response, "pelorin-switches", {"--json", "set", *id, *state});
}

void DeviceApi::changeSetting(const json& body, Response& response) {
  const auto key = textMember(body, "key");
  const auto value = valueText(body, "value");
  if (!key || key->empty() || !value) return refuse(response, 400, "expected a key and a value");
  if (value->size() > limits::kMaxTextBytes) return refuse(response, 400, "the value is too long");
  runChange(response, "pelorinctl", {"settings", "set", "--", *key, *value});
}

void DeviceApi::changeRule(const json& body, bool remove, Response& response) {
  const auto prefix = textMember(body, "prefix");
  if (!prefix || prefix->empty() || prefix->size() > limits::kMaxAddressBytes) {
    return refuse(response, 400, "type a prefix");
  }
  if (remove) return runChange(response, "pelorinctl", {"rules", "delete", "--", *prefix});
  const auto mode = valueText(body, "mode");
  if (!mode) return refuse(response, 400, "choose Carrier or Google Voice");
  runChange(response, "pelorinctl", {"rules", "set", "--", *prefix, *mode});
}

void DeviceApi::deliverMail(const Request& request, const Reader& reader, Response& response) {
  const auto body = readBody(request, reader, kMaxMailBytes, "a mail", response);
  if (!body) return;
  if (body->empty()) return refuse(response, 400, "drop a mail file (RFC 822) on the page");
  const auto path = writeNewPrivateFile(config_.stateDir + "/web-mail", *body);
  if (!path) return refuse(response, 500, "cannot keep the mail under " + config_.stateDir);
  const auto delivered = link_.deliverMail(config_.mailAccount, *path);
  if (!delivered.value) ::unlink(path->c_str());
  if (answeredFailure(response, delivered)) return;
  answer(response, 200, {{"messageID", *delivered.value}});
}

}  // namespace pelorin::sim::web
