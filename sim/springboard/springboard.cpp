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
  const auto before = banners_.added();
  connection(connection_, std::make_shared<const platform::APSIncomingMessage>(topic, userInfo));
  const bool shown = banners_.added() > before;
  report_({{"event", "push"},
           {"topic", topic},
           {"userInfo", dictionaryJson(userInfo)},
           {"shown", shown}});
  return shown;
}

void SpringBoard::platformConnection(
    platform::APSConnection&, const std::shared_ptr<const platform::APSIncomingMessage>& message) {
  if (!message) return;
  nlohmann::json banner{{"topic", textJson(message->topic())},
                        {"alert", textJson(bannerText(message->userInfo()))}};
  banners_.add(banner);
  banner["event"] = "banner";
  report_(banner);
}

void SpringBoard::present(const platform::Alert& alert) {
  nlohmann::json shown{{"title", textJson(alert.title)},
                       {"message", textJson(alert.message)},
                       {"buttons", alert.buttons}};
  alerts_.add(shown);
  shown["event"] = "alert";
  report_(shown);
}

}  // namespace pelorin::sim
