#include "app/run_refresh.h"

#include <gtest/gtest.h>

#include <set>
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
    "Emit  Makes the desktop apply the stored icon size, cursors, wallpaper and colours again.\n",
    "Emit  \n",
};

const std::string kKeyMissingLog = "Emit  Key doesn't exist \n";
// Each request is waited for at most 5 s.
const std::string kCursors = "SystemParametersInfo 57 0 null 2 bound=5000";
const std::string kWallpaper = "SystemParametersInfo 14 0 null 2 bound=5000";

class RunRefreshTest : public FakeTest {
 protected:
  void PutBothKeys() {
    PutIconSize("48");
    PutScheme("1 2 3");
  }
  int Run() { return RunRefresh(fake); }
  std::vector<std::string> Emitted() const { return Calls("Emit "); }
  // Position of the first log line equal to line, or -1.
  long IndexOf(const std::string& line) const {
    for (std::size_t i = 0; i < fake.log.size(); ++i) {
      if (fake.log[i] == line) {
        return static_cast<long>(i);
      }
    }
    return -1;
  }
};

TEST_F(RunRefreshTest, BannerComesFirstAndIsTheOnlyOutputWhenBothKeysExist) {
  PutBothKeys();
  EXPECT_EQ(Run(), kExitDone);
  ASSERT_GE(fake.log.size(), kBannerLog.size());
  EXPECT_EQ(std::vector<std::string>(fake.log.begin(), fake.log.begin() + 6), kBannerLog);
  EXPECT_EQ(Emitted(), kBannerLog);
  for (const std::string& line : Emitted()) {
    EXPECT_EQ(line.substr(5, 1), " ") << line;
    EXPECT_EQ(line.back(), '\n') << line;
  }
}

TEST_F(RunRefreshTest, StepsRunInTheirFixedOrder) {
  PutBothKeys();
  Run();
  const long icons = IndexOf(kOpenWindowMetrics + "0");
  const long cursors = IndexOf(kCursors);
  const long wallpaper = IndexOf(kWallpaper);
  const long colors = IndexOf("OpenKey 80000001 Control Panel\\Colors 0 20019 -> 0");
  EXPECT_EQ(icons, 6);
  EXPECT_LT(icons, cursors);
  EXPECT_EQ(wallpaper, cursors + 1);
  EXPECT_LT(wallpaper, colors);
  EXPECT_EQ(fake.log.back(), "CloseKey");
  EXPECT_EQ(Calls("SystemParametersInfo"), (std::vector<std::string>{kCursors, kWallpaper}));
}

TEST_F(RunRefreshTest, CallsCutShortChangeNothingButTheStatus) {
  PutBothKeys();
  Run();
  const std::vector<std::string> succeeding = fake.log;
  fake.log.clear();
  PutIconSize("48");
  fake.broadcasts_never_return = {0, 1};
  fake.spi_never_return = {win::SPI_SETCURSORS, win::SPI_SETDESKWALLPAPER};
  fake.colors_never_return = true;
  EXPECT_EQ(Run(), 3);
  EXPECT_EQ(fake.log, succeeding);
  EXPECT_EQ(IconSize(), "48");
}

struct KeyCase {
  const char* name;
  std::int32_t icon_open;  // 0 = key present, otherwise the injected open result
  std::int32_t color_open;
  int status;
  std::vector<std::string> tail;       // what follows the banner, emits and SPI calls only
  std::uint32_t icon_lock_wait = 0;    // what waiting for the icon-size lock gives
  bool colors_hang = false;            // the colour change never returns
  std::set<std::uint32_t> spi_hang{};  // system-parameter requests that never return
  std::set<int> broadcasts_hang{};     // broadcasts, by number, that never return
};

class RunRefreshKeyTest : public RunRefreshTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(RunRefreshKeyTest, ReportsKeysThatCannotBeOpened) {
  const KeyCase& c = GetParam();
  PutBothKeys();
  if (c.icon_open != 0) {
    fake.open_status[kWindowMetricsPath] = c.icon_open;
  }
  if (c.color_open != 0) {
    fake.open_status[kColorsPath] = c.color_open;
  }
  fake.wait_result = c.icon_lock_wait;
  fake.colors_never_return = c.colors_hang;
  fake.spi_never_return = c.spi_hang;
  fake.broadcasts_never_return = c.broadcasts_hang;
  EXPECT_EQ(Run(), c.status);
  std::vector<std::string> tail;
  for (std::size_t i = kBannerLog.size(); i < fake.log.size(); ++i) {
    const std::string& line = fake.log[i];
    if (line.rfind("Emit", 0) == 0 || line.rfind("SystemParametersInfo", 0) == 0) {
      tail.push_back(line);
    }
  }
  EXPECT_EQ(tail, c.tail);
  // Whatever was cut short, refused or held, the size is back or untouched.
  EXPECT_EQ(IconSize(), "48");
}

INSTANTIATE_TEST_SUITE_P(
    Keys, RunRefreshKeyTest,
    ::testing::Values(
        KeyCase{"BothPresent", 0, 0, kExitDone, {kCursors, kWallpaper}},
        KeyCase{"IconsMissing",
                win::ERROR_FILE_NOT_FOUND,
                0,
                kExitKeyNotOpened,
                {kKeyMissingLog, kCursors, kWallpaper}},
        KeyCase{"IconsBadDb",
                win::ERROR_BADDB,
                0,
                kExitKeyNotOpened,
                {kKeyMissingLog, kCursors, kWallpaper}},
        KeyCase{
            "IconsRefused", win::ERROR_ACCESS_DENIED, 0, kExitKeyNotOpened, {kCursors, kWallpaper}},
        KeyCase{"ColorsMissing",
                0,
                win::ERROR_BADKEY,
                kExitKeyNotOpened,
                {kCursors, kWallpaper, kKeyMissingLog}},
        KeyCase{"ColorsRefused",
                0,
                win::ERROR_ACCESS_DENIED,
                kExitKeyNotOpened,
                {kCursors, kWallpaper}},
        KeyCase{"BothMissing",
                win::ERROR_FILE_NOT_FOUND,
                win::ERROR_FILE_NOT_FOUND,
                kExitKeyNotOpened,
                {kKeyMissingLog, kCursors, kWallpaper, kKeyMissingLog}},
        // Several outcomes: the lowest non-zero status.
        KeyCase{"IconSizeLeftAlone", 0, 0, 2, {kCursors, kWallpaper}, 0x102},
        KeyCase{"ColorsUnconfirmed", 0, 0, 3, {kCursors, kWallpaper}, 0, true},
        KeyCase{"LeftAloneAndUnconfirmed", 0, 0, 2, {kCursors, kWallpaper}, 0x102, true},
        KeyCase{"LeftAloneAndColorsMissing",
                0,
                win::ERROR_FILE_NOT_FOUND,
                1,
                {kCursors, kWallpaper, kKeyMissingLog},
                0x102},
        KeyCase{"IconsRefusedAndUnconfirmed",
                win::ERROR_ACCESS_DENIED,
                0,
                1,
                {kCursors, kWallpaper},
                0,
                true},
        // Any call that waits on other programs' windows and is cut short.
        KeyCase{"CursorsCutShort", 0, 0, 3, {kCursors, kWallpaper}, 0, false, {0x57}},
        KeyCase{"WallpaperCutShort", 0, 0, 3, {kCursors, kWallpaper}, 0, false, {0x14}},
        KeyCase{"FirstIconBroadcastCutShort", 0, 0, 3, {kCursors, kWallpaper}, 0, false, {}, {0}},
        KeyCase{"SecondIconBroadcastCutShort", 0, 0, 3, {kCursors, kWallpaper}, 0, false, {}, {1}},
        KeyCase{"CutShortAndColorsMissing",
                0,
                win::ERROR_FILE_NOT_FOUND,
                1,
                {kCursors, kWallpaper, kKeyMissingLog},
                0,
                false,
                {0x57, 0x14}},
        KeyCase{"LeftAloneAndCutShort", 0, 0, 2, {kCursors, kWallpaper}, 0x102, false, {0x14}}),
    [](const ::testing::TestParamInfo<KeyCase>& param) { return param.param.name; });

}  // namespace
}  // namespace plenvor
