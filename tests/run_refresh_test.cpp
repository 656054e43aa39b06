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

const std::string kCursors = "SystemParametersInfo 57 0 null 2";
const std::string kWallpaper = "SystemParametersInfo 14 0 null 2";

class RunRefreshTest : public FakeTest {
 protected:
  int Run() { return RunRefresh(fake); }
};

TEST_F(RunRefreshTest, BannerComesBeforeAnyPlatformCall) {
  EXPECT_EQ(Run(), kExitDone);
  EXPECT_EQ(fake.log, (std::vector<std::string>{kBannerLog[0], kBannerLog[1], kBannerLog[2],
                                                kBannerLog[3], kBannerLog[4], kBannerLog[5],
                                                kCursors, kWallpaper}));
}

TEST_F(RunRefreshTest, IgnoredResultsDoNotChangeTheRun) {
  fake.spi_result = 0;
  EXPECT_EQ(Run(), kExitDone);
  EXPECT_EQ(Calls("SystemParametersInfo"), (std::vector<std::string>{kCursors, kWallpaper}));
}

}  // namespace
}  // namespace plenvor
