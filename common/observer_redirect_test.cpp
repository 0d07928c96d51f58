#include <gtest/gtest.h>

#include "common/darwin_observer_redirect.h"
#include "common/local_observer_redirect.h"
#include "common/names.h"
#include "platform/testing/notification_recorder.h"

namespace pelorin {
namespace {

TEST(ObserverRedirectTest, WrappersPostAndObserveOnTheProcessCentres) {
  platform::testing::NotificationRecorder recorder;
  int settingsCalls = 0;
  platform::Dictionary sentInfo;
  DarwinObserverRedirect::addObserverwithCallback([&](const std::string&) { ++settingsCalls; },
                                                  kSettingsNotification);
  LocalObserverRedirect::addObserverwithCallback(
      [&](const std::string&, const platform::Dictionary& info) { sentInfo = info; },
      kCTMessageSentNotification);

  DarwinObserverRedirect::postNotification(kSettingsNotification);
  DarwinObserverRedirect::postNotification(kRulesChangedNotification);
  const platform::Dictionary info{{std::string(kCTMessageTypeKey), 1},
                                  {std::string(kCTMessageIdKey), 4294901760u}};
  LocalObserverRedirect::postNotification(kCTMessageSentNotification, info);

  EXPECT_EQ(settingsCalls, 1);
  EXPECT_EQ(sentInfo, info);
  EXPECT_EQ(recorder.darwinPosts(),
            (std::vector<std::string>{std::string(kSettingsNotification),
                                      std::string(kRulesChangedNotification)}));
}

}  // namespace
}  // namespace pelorin
