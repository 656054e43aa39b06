#include "app/run_refresh.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fake_fixture.h"

namespace plenvor {
namespace {

const std::vector<std::string> kBannerLog = {
    "Emit  Plenvor Version 1.0\n",
    "Emit  Written By the Plenvor developers\n",
    "Emit  email: plenvor@example.org\n",
    "Emit  \n",
    "Emit  Makes the running desktop apply the stored icon size, cursors, wallpaper and colours "
    "again.\n",
    "Emit  \n",
};

const std::string kKeyMissingLog = "Emit  Key doesn't exist \n";
const std::string kCursors = "SystemParametersInfo 57 0 null 2";
const std::string kWallpaper = "SystemParametersInfo 14 0 null 2";

class RunRefreshTest : public FakeTest {
 protected:
  int Run() { return RunRefresh(fake); }
  std::vector<std::string> AfterBanner() const {
    return {fake.log.begin() + static_cast<long>(kBannerLog.size()), fake.log.end()};
  }
};

TEST_F(RunRefreshTest, BannerComesBeforeAnyPlatformCall) {
  PutIconSize("48");
  EXPECT_EQ(Run(), kExitDone);
  ASSERT_GE(fake.log.size(), kBannerLog.size());
  EXPECT_EQ(std::vector<std::string>(fake.log.begin(), fake.log.begin() + 6), kBannerLog);
  EXPECT_EQ(Calls("Emit"), kBannerLog);
}

TEST_F(RunRefreshTest, IconStepRunsBeforeCursorsAndWallpaper) {
  PutIconSize("48");
  Run();
  const std::vector<std::string> after = AfterBanner();
  ASSERT_EQ(after.size(), 9U);
  EXPECT_EQ(after[0].rfind("OpenKey 80000003", 0), 0U);
  EXPECT_EQ(after[6], "CloseKey");
  EXPECT_EQ(std::vector<std::string>(after.begin() + 7, after.end()),
            (std::vector<std::string>{kCursors, kWallpaper}));
}

TEST_F(RunRefreshTest, MissingIconKeyIsReportedAndTheRunGoesOn) {
  EXPECT_EQ(Run(), kExitKeyNotOpened);
  EXPECT_EQ(AfterBanner(), (std::vector<std::string>{
                               "OpenKey 80000003 .Default\\Control Panel\\desktop\\WindowMetrics "
                               "0 f003f -> 2",
                               kKeyMissingLog, kCursors, kWallpaper}));
}

TEST_F(RunRefreshTest, RefusedIconKeyFailsTheRunWithoutAMessage) {
  PutIconSize("48");
  fake.open_status[kWindowMetricsPath] = win::ERROR_ACCESS_DENIED;
  EXPECT_EQ(Run(), kExitKeyNotOpened);
  EXPECT_EQ(Calls("Emit"), kBannerLog);
}

TEST_F(RunRefreshTest, IgnoredResultsDoNotChangeTheRun) {
  PutIconSize("48");
  Run();
  const std::vector<std::string> succeeding = fake.log;
  fake.log.clear();
  PutIconSize("48");
  fake.set_status = win::ERROR_ACCESS_DENIED;
  fake.broadcast_result = 0;
  fake.spi_result = 0;
  EXPECT_EQ(Run(), kExitDone);
  EXPECT_EQ(fake.log, succeeding);
}

}  // namespace
}  // namespace plenvor
