#include "sim/web/web_server.h"

#include "platform/files.h"

namespace pelorin::sim::web {
namespace {

using httplib::Request;
using httplib::Response;

constexpr char kPolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

// An idle event stream says something this often, so a page that went away
// is noticed and its slot freed.
constexpr std::chrono::seconds kKeepAlive{10};

void refuse(Response& response, int status, const std::string& why) {
  response.status = status;
  response.set_content(
      nlohmann::json{{"error", why}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
      "application/json");
}

}  // namespace

std::optional<WebServer::Page> WebServer::loadPage(const std::string& folder, std::string& error) {
  Page page;
  for (auto [name, text] : {std::pair{"index.html", &page.html}, std::pair{"app.js", &page.script},
                            std::pair{"style.css", &page.style}}) {
    const auto read = platform::readFile(folder + "/" + name);
    if (!read.bytes) {
      error = "cannot read the page's " + std::string(name) + " in " + folder + ": " + read.problem;
      return std::nullopt;
    }
    *text = *read.bytes;
  }
  return page;
}

WebServer::WebServer(Page page, EventFeed& feed, DeviceApi& api)
    : page_(std::move(page)), feed_(feed), api_(api) {
  // Each open page holds a thread for its event stream; the rest serve requests.
  server_.new_task_queue = [] { return new httplib::ThreadPool(EventFeed::kMaxSubscribers + 16); };
  server_.set_tcp_nodelay(true);
  server_.set_payload_max_length(DeviceApi::kMaxMailBytes);
  server_.set_default_headers({{"Content-Security-Policy", kPolicy},
                               {"X-Content-Type-Options", "nosniff"},
                               {"Referrer-Policy", "no-referrer"},
                               {"Cache-Control", "no-store"}});
}

int WebServer::bind(int port) {
  port_ = port == 0 ? server_.bind_to_any_port("127.0.0.1")
                    : (server_.bind_to_port("127.0.0.1", port) ? port : -1);
  return port_;
}

void WebServer::install(const std::string& token) {
  guard_ = std::make_unique<RequestGuard>(token, port_);
  server_.set_pre_routing_handler([this](const Request& request, Response& response) {
    const auto refusal = guard_->check(request);
    if (!refusal) return httplib::Server::HandlerResponse::Unhandled;
    response.set_header("Connection", "close");
    refuse(response, refusal->status, refusal->why);
    return httplib::Server::HandlerResponse::Handled;
  });
  server_.set_error_handler([](const Request&, Response& response) {
    if (!response.body.empty()) return;
    refuse(response, response.status,
           response.status == 404   ? "not found"
           : response.status == 413 ? "the request is too large"
                                    : "the request cannot be served");
  });
  server_.set_exception_handler([](const Request&, Response& response, std::exception_ptr) {
    refuse(response, 500, "the server failed on this request");
  });
  server_.Get("/", [this](const Request& q, Response& r) { servePage(q, r); });
  server_.Get("/app.js", [this](const Request&, Response& r) {
    r.set_content(page_.script, "text/javascript; charset=utf-8");
  });
  server_.Get("/style.css", [this](const Request&, Response& r) {
    r.set_content(page_.style, "text/css; charset=utf-8");
  });
  server_.Get("/api/events", [this](const Request&, Response& r) { serveEvents(r); });
  api_.install(server_);
}

void WebServer::servePage(const Request& request, Response& response) {
  if (request.has_param("token")) {
    // Trade the token in the URL for the cookie, and leave it out of the
    // address bar and history.
    response.set_header("Set-Cookie", guard_->cookie());
    response.set_redirect("/", 303);
    return;
  }
  response.set_content(page_.html, "text/html; charset=utf-8");
}

void WebServer::serveEvents(Response& response) {
  auto queue = feed_.subscribe();
  if (!queue) return refuse(response, 503, "too many pages are open");
  response.set_chunked_content_provider(
      "text/event-stream", [queue](std::size_t, httplib::DataSink& sink) {
        const auto lines = queue->take(kKeepAlive);
        if (!lines) {
          sink.done();  // closed: the page reconnects and loads afresh
          return true;
        }
        std::string chunk = lines->empty() ? ": still here\n\n" : "";
        for (const auto& line : *lines) chunk += "data: " + line + "\n\n";
        return sink.write(chunk.data(), chunk.size());
      });
}

void WebServer::run() {
  server_.listen_after_bind();
}

void WebServer::stop() {
  server_.stop();
}

}  // namespace pelorin::sim::web
