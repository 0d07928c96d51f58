#include "sim/springboard/springboard.h"

#include "platform/device_model.h"

namespace pelorin::sim {
namespace {

// The banner text of a push: "aps" → "alert" as text, or the "body" of an
// alert given as a dictionary; absent otherwise.
Text bannerText(const std::optional<platform::Dictionary>& userInfo) {
  if (!userInfo) return std::nullopt;
  auto aps = userInfo->find("aps");
  const auto* apsDictionary = aps == userInfo->end() ? nullptr : aps->second.asDictionary();
  if (apsDictionary == nullptr) return std::nullopt;
  auto alert = apsDictionary->find("alert");
  if (alert == apsDictionary->end()) return std::nullopt;
  if (const auto* text = alert->second.asString()) return *text;
  if (const auto* structured = alert->second.asDictionary()) {
    auto body = structured->find("body");
    if (body != structured->end() && body->second.asString()) return *body->second.asString();
  }
  return std::nullopt;
}

}  // namespace

SpringBoard::SpringBoard(SpringBoardOptions options, EventReporter report)
    : options_(std::move(options)), report_(std::move(report)) {}

SpringBoard::~SpringBoard() {
  platform::setAlertPresenter(nullptr);
}

void SpringBoard::start() {
  platform::setDeviceModel(options_.model);
  platform::setAlertPresenter(this);
  registerWithRuntime(options_.offersPushReceiver);
}

bool SpringBoard::deliverPush(const std::string& topic, const platform::Dictionary& userInfo) {
  std::lock_guard deliver(deliverMutex_);
  std::size_t before = 0;
  {
    std::lock_guard lock(recordMutex_);
    before = banners_.size();
  }
  connection(connection_, std::make_shared<const platform::APSIncomingMessage>(topic, userInfo));
  bool shown = false;
  {
    std::lock_guard lock(recordMutex_);
    shown = banners_.size() > before;
  }
  report_({{"event", "push"},
           {"topic", topic},
           {"userInfo", dictionaryJson(userInfo)},
           {"shown", shown}});
  return shown;
}

void SpringBoard::platformConnection(
    platform::APSConnection&, const std::shared_ptr<const platform::APSIncomingMessage>& message) {
  if (!message) return;
  Banner banner{message->topic(), bannerText(message->userInfo())};
  {
    std::lock_guard lock(recordMutex_);
    banners_.push_back(banner);
  }
  auto event = bannerJson(banner);
  event["event"] = "banner";
  report_(event);
}

void SpringBoard::present(const platform::Alert& alert) {
  {
    std::lock_guard lock(recordMutex_);
    alerts_.push_back(alert);
  }
  auto event = alertJson(alert);
  event["event"] = "alert";
  report_(event);
}

std::vector<platform::Alert> SpringBoard::alerts() const {
  std::lock_guard lock(recordMutex_);
  return alerts_;
}

std::vector<SpringBoard::Banner> SpringBoard::banners() const {
  std::lock_guard lock(recordMutex_);
  return banners_;
}

nlohmann::json SpringBoard::alertJson(const platform::Alert& alert) {
  return {{"title", textJson(alert.title)},
          {"message", textJson(alert.message)},
          {"buttons", alert.buttons}};
}

nlohmann::json SpringBoard::bannerJson(const Banner& banner) {
  return {{"topic", textJson(banner.topic)}, {"alert", textJson(banner.alert)}};
}

}  // namespace pelorin::sim
