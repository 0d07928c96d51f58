#pragma once

#include <httplib.h>

#include <memory>
#include <optional>
#include <string>

#include "sim/web/device_api.h"
#include "sim/web/event_feed.h"
#include "sim/web/request_guard.h"

namespace pelorin::sim::web {

// The HTTP side of the web view: bound to 127.0.0.1 only, every request
// passed through the RequestGuard first, then the static page, the event
// stream (Server-Sent Events from the EventFeed) and the DeviceApi. Every
// answer carries a Content-Security-Policy that lets the page load its own
// files only and be framed by nobody.
class WebServer {
 public:
  // The page's files, read once at start.
  struct Page {
    std::string html, script, style;
  };

  // Reads index.html, app.js and style.css from `folder`; nothing, with the
  // reason in `error`, when one cannot be read.
  static std::optional<Page> loadPage(const std::string& folder, std::string& error);

  WebServer(Page page, EventFeed& feed, DeviceApi& api);

  // Binds 127.0.0.1:`port` (0: a free port): the port, or -1.
  int bind(int port);

  // Sets up the guard with `token` and every route. After bind().
  void install(const std::string& token);

  // Serves until stop() (from another thread).
  void run();
  void stop();

 private:
  void servePage(const httplib::Request& request, httplib::Response& response);
  void serveEvents(httplib::Response& response);

  const Page page_;
  EventFeed& feed_;
  DeviceApi& api_;
  httplib::Server server_;
  int port_ = -1;
  std::unique_ptr<RequestGuard> guard_;
};

}  // namespace pelorin::sim::web
