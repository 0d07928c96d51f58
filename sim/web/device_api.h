#pragma once

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <string>

#include "sim/web/alert_dismissals.h"
#include "sim/web/device_link.h"
#include "sim/web/tool_runner.h"

namespace pelorin::sim::web {

// The page's JSON API: what it reads of the device and what it changes, each
// through a host's control interface or the command-line tool a person would
// use (pelorinctl, pelorin-switches). Every answer is a JSON object; a
// failure is {"error": text for a person} with a 4xx status for bad input and
// 5xx when the device could not do it. Input is checked against the hosts'
// own limits before it reaches them. Handlers run on the server's threads.
class DeviceApi {
 public:
  struct Config {
    std::string stateDir;     // <root>/var/run/pelorin-sim
    std::string mailAccount;  // the Mail host account dropped mails go to
  };

  // At most this much of a request body is read; a mail at most kMaxMailBytes.
  static constexpr std::size_t kMaxJsonBytes = std::size_t{1} << 20;
  static constexpr std::size_t kMaxMailBytes = std::size_t{4} << 20;

  DeviceApi(Config config, DeviceLink& link, const ToolRunner& tools, AlertDismissals& dismissals);

  // Adds the API's routes (under /api/) to `server`.
  void install(httplib::Server& server);

 private:
  using Reader = httplib::ContentReader;
  void messages(httplib::Response& response);
  void home(httplib::Response& response);
  void mail(httplib::Response& response);
  void route(const httplib::Request& request, httplib::Response& response);
  void serviceTexts(httplib::Response& response);
  void toolLines(httplib::Response& response, const std::string& tool,
                 const std::vector<std::string>& arguments);
  void send(const nlohmann::json& body, httplib::Response& response);
  void dismiss(const nlohmann::json& body, httplib::Response& response);
  void changeSwitch(const nlohmann::json& body, httplib::Response& response);
  void changeSetting(const nlohmann::json& body, httplib::Response& response);
  void changeRule(const nlohmann::json& body, bool remove, httplib::Response& response);
  void deliverMail(const httplib::Request& request, const Reader& reader,
                   httplib::Response& response);
  void runChange(httplib::Response& response, const std::string& tool,
                 const std::vector<std::string>& arguments);

  const Config config_;
  DeviceLink& link_;
  const ToolRunner& tools_;
  AlertDismissals& dismissals_;
};

}  // namespace pelorin::sim::web
