#include "app/run_refresh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "tests/fake_fixture.h"

namespace plenvor {
namespace {

// Each request is waited for at most 5 s.
const call::SystemParameter kCursors{ms::SPI_SETCURSORS, 0, false, ms::SPIF_SENDWININICHANGE, 5000};
const call::SystemParameter kWallpaper{ms::SPI_SETDESKWALLPAPER, 0, false,
                                       ms::SPIF_SENDWININICHANGE, 5000};

class RunRefreshTest : public FakeTest {
 protected:
  void PutBothKeys() {
    PutIconSize("48");
    PutScheme("1 2 3");
  }
  int Run() { return static_cast<int>(RunRefresh(fake)); }
};

TEST_F(RunRefreshTest, BannerComesFirstAndIsTheOnlyOutputWhenBothKeysExist) {
  PutBothKeys();
  EXPECT_EQ(Run(), 0);
  std::vector<Call> banner;
  banner.reserve(test_data::kBannerLines.size());
  for (const std::string& line : test_data::kBannerLines) {
    banner.emplace_back(call::Emit{line});
  }
  ASSERT_EQ(fake.Only<call::Emit>(), banner);
  EXPECT_EQ(std::vector<Call>(fake.calls.begin(), fake.calls.begin() + long(banner.size())), banner)
      << "a call came before the banner";
}

TEST_F(RunRefreshTest, CallsCutShortChangeNothingButTheStatus) {
  PutBothKeys();
  Run();
  const std::vector<Call> in_time = fake.calls;
  fake.calls.clear();
  PutIconSize("48");
  fake.cut_short_broadcasts = {0, 1};
  fake.cut_short_requests = {ms::SPI_SETCURSORS, ms::SPI_SETDESKWALLPAPER};
  fake.colors_cut_short = true;
  EXPECT_EQ(Run(), 3);
  EXPECT_EQ(fake.calls, in_time);
  EXPECT_EQ(IconSize(), "48");
}

struct RunCase {
  const char* name;
  std::int32_t icon_open;   // 0: the key is there; otherwise what opening it gives
  std::int32_t color_open;  // the same for the colours' key
  std::uint32_t lock_wait;  // what waiting for the icon-size lock gives
  const char* cut_short;    // calls that do not return in time: 1 and 2 the icon
                            // broadcasts, C cursors, W wallpaper, S the colour change
  int status;
  const char* output;  // after the banner, in order: K the missing-key message,
                       // C the cursor and W the wallpaper request
};

std::ostream& operator<<(std::ostream& out, const RunCase& c) {
  return out << c.name << ": opens " << c.icon_open << "/" << c.color_open << ", lock wait 0x"
             << std::hex << c.lock_wait << std::dec << ", cut short \"" << c.cut_short
             << "\" -> status " << c.status << ", \"" << c.output << "\"";
}

class RunRefreshCaseTest : public RunRefreshTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(RunRefreshCaseTest, GivesTheLowestStatusAndKeepsTheSize) {
  const RunCase& c = GetParam();
  PutBothKeys();
  if (c.icon_open != 0) {
    fake.open_status[WindowMetricsPath()] = c.icon_open;
  }
  if (c.color_open != 0) {
    fake.open_status[ColorsPath()] = c.color_open;
  }
  fake.wait_result = c.lock_wait;
  for (const char which : std::string(c.cut_short)) {
    if (which == 'C' || which == 'W') {
      fake.cut_short_requests.insert(which == 'C' ? ms::SPI_SETCURSORS : ms::SPI_SETDESKWALLPAPER);
    } else if (which == 'S') {
      fake.colors_cut_short = true;
    } else {
      fake.cut_short_broadcasts.insert(which - '1');
    }
  }
  EXPECT_EQ(Run(), c.status);
  std::string output;
  for (const Call& recorded : fake.Only<call::Emit, call::SystemParameter>()) {
    output += recorded == Call(KeyMissing()) ? "K"
              : recorded == Call(kCursors)   ? "C"
              : recorded == Call(kWallpaper) ? "W"
                                             : "";
  }
  EXPECT_EQ(output, c.output);
  // Whatever was cut short, refused or held, the size is back or untouched.
  EXPECT_EQ(IconSize(), "48");
}

// Where several outcomes meet, the lowest non-zero status, but 4 (a refused
// key, as every standard user's logon meets) only when nothing else went wrong.
INSTANTIATE_TEST_SUITE_P(
    Runs, RunRefreshCaseTest,
    ::testing::Values(
        RunCase{"BothPresent", 0, 0, ms::WAIT_OBJECT_0, "", 0, "CW"},
        RunCase{"IconsMissing", ms::ERROR_FILE_NOT_FOUND, 0, ms::WAIT_OBJECT_0, "", 1, "KCW"},
        RunCase{"IconsBadDb", ms::ERROR_BADDB, 0, ms::WAIT_OBJECT_0, "", 1, "KCW"},
        RunCase{"IconsRefused", ms::ERROR_ACCESS_DENIED, 0, ms::WAIT_OBJECT_0, "", 4, "CW"},
        RunCase{"IconsNotOpenedOtherwise", ms::ERROR_NOT_ENOUGH_MEMORY, 0, ms::WAIT_OBJECT_0, "", 1,
                "CW"},
        RunCase{"ColorsMissing", 0, ms::ERROR_BADKEY, ms::WAIT_OBJECT_0, "", 1, "CWK"},
        RunCase{"ColorsRefused", 0, ms::ERROR_ACCESS_DENIED, ms::WAIT_OBJECT_0, "", 4, "CW"},
        RunCase{"BothRefused", ms::ERROR_ACCESS_DENIED, ms::ERROR_ACCESS_DENIED, ms::WAIT_OBJECT_0,
                "", 4, "CW"},
        RunCase{"IconsRefusedAndColorsMissing", ms::ERROR_ACCESS_DENIED, ms::ERROR_FILE_NOT_FOUND,
                ms::WAIT_OBJECT_0, "", 1, "CWK"},
        RunCase{"ColorsRefusedAndIconSizeLeftAlone", 0, ms::ERROR_ACCESS_DENIED, ms::WAIT_TIMEOUT,
                "", 2, "CW"},
        RunCase{"IconsRefusedAndWallpaperCutShort", ms::ERROR_ACCESS_DENIED, 0, ms::WAIT_OBJECT_0,
                "W", 3, "CW"},
        RunCase{"IconsRefusedAndItsBroadcastCutShort", ms::ERROR_ACCESS_DENIED, 0,
                ms::WAIT_OBJECT_0, "1", 3, "CW"},
        RunCase{"BothMissing", ms::ERROR_FILE_NOT_FOUND, ms::ERROR_FILE_NOT_FOUND,
                ms::WAIT_OBJECT_0, "", 1, "KCWK"},
        RunCase{"IconSizeLeftAlone", 0, 0, ms::WAIT_TIMEOUT, "", 2, "CW"},
        RunCase{"ColorsCutShort", 0, 0, ms::WAIT_OBJECT_0, "S", 3, "CW"},
        RunCase{"LeftAloneAndColorsCutShort", 0, 0, ms::WAIT_TIMEOUT, "S", 2, "CW"},
        RunCase{"LeftAloneAndColorsMissing", 0, ms::ERROR_FILE_NOT_FOUND, ms::WAIT_TIMEOUT, "", 1,
                "CWK"},
        RunCase{"IconsRefusedAndColorsCutShort", ms::ERROR_ACCESS_DENIED, 0, ms::WAIT_OBJECT_0, "S",
                3, "CW"},
        RunCase{"CursorsCutShort", 0, 0, ms::WAIT_OBJECT_0, "C", 3, "CW"},
        RunCase{"WallpaperCutShort", 0, 0, ms::WAIT_OBJECT_0, "W", 3, "CW"},
        RunCase{"FirstIconBroadcastCutShort", 0, 0, ms::WAIT_OBJECT_0, "1", 3, "CW"},
        RunCase{"SecondIconBroadcastCutShort", 0, 0, ms::WAIT_OBJECT_0, "2", 3, "CW"},
        RunCase{"CutShortAndColorsMissing", 0, ms::ERROR_FILE_NOT_FOUND, ms::WAIT_OBJECT_0, "CW", 1,
                "CWK"},
        RunCase{"LeftAloneAndWallpaperCutShort", 0, 0, ms::WAIT_TIMEOUT, "W", 2, "CW"}),
    [](const ::testing::TestParamInfo<RunCase>& param) { return param.param.name; });

}  // namespace
}  // namespace plenvor
