#include "refresh/system_colors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/fake_fixture.h"

namespace plenvor {
namespace {

using namespace std::string_literals;

TEST(ParseColorText, ParsesLikePercentIAndComposes) {
  for (const auto& c : test_data::kColorTexts) {
    std::array<std::int32_t, 3> rgb = {1, 2, 3};
    EXPECT_EQ(ParseColorText(c.text.c_str(), rgb), c.parsed) << Quoted(c.text);
    EXPECT_EQ(ComposeColor(rgb[0], rgb[1], rgb[2]), c.color) << Quoted(c.text);
  }
}

const std::string& NameOf(int element) {
  return test_data::kColorNames.at(static_cast<std::size_t>(element));
}

// One SetSysColors of every element but those left out, waited for at most 10 s.
call::SetSysColors ApplyColors(const std::set<std::int32_t>& left_out = {}) {
  call::SetSysColors change{{}, 10000};
  for (std::int32_t element = 0; element < 25; ++element) {
    if (left_out.count(element) == 0) {
      change.elements.push_back(element);
    }
  }
  return change;
}

// Reads as (element, room offered).
using Reads = std::vector<std::pair<int, std::uint32_t>>;

class ReloadSystemColorsTest : public FakeTest {
 protected:
  StepOutcome Run() { return ReloadSystemColors(fake, buffer); }
  Reads Rooms() const {
    const std::vector<std::string>& names = test_data::kColorNames;
    Reads rooms;
    for (const call::QueryValue& read : fake.CallsOf<call::QueryValue>()) {
      rooms.emplace_back(std::find(names.begin(), names.end(), read.name) - names.begin(),
                         read.room);
    }
    return rooms;
  }
  ValueBuffer buffer;
};

TEST_F(ReloadSystemColorsTest, ReadsEveryRowInOrderThenAppliesAllAtOnce) {
  for (int element = 0; element < 25; ++element) {
    PutColor(element, std::to_string(element) + " 0 0");
  }
  EXPECT_EQ(Run(), StepOutcome::kCompleted);
  std::vector<Call> expected = {OpenColors(0)};
  std::uint32_t room = 80;
  for (int element = 0; element < 25; ++element) {
    const auto size = static_cast<std::uint32_t>((std::to_string(element) + " 0 0").size());
    if (size > room) {  // "10 0 0" after "9 0 0": too little room, one repeat
      expected.emplace_back(call::QueryValue{NameOf(element), room, ms::ERROR_MORE_DATA, size});
      room = size;
    }
    expected.emplace_back(call::QueryValue{NameOf(element), room, 0, size});
    room = size;
  }
  expected.emplace_back(ApplyColors());
  expected.emplace_back(call::CloseKey{ColorsPath()});
  EXPECT_EQ(fake.calls, expected);
  for (std::int32_t element = 0; element < 25; ++element) {
    EXPECT_EQ(fake.system_colors[element], static_cast<std::uint32_t>(element)) << element;
  }
}

TEST_F(ReloadSystemColorsTest, AChangeCutShortIsLeftBehindAndReported) {
  PutScheme("1 2 3");
  fake.colors_cut_short = true;
  EXPECT_EQ(Run(), StepOutcome::kCutShort);
  const std::vector<Call> tail(fake.calls.end() - 2, fake.calls.end());
  EXPECT_EQ(tail, (std::vector<Call>{ApplyColors(), call::CloseKey{ColorsPath()}}));
}

TEST_F(ReloadSystemColorsTest, CarriesTheRoomFromRowToRow) {
  PutScheme("1 1 1");
  PutColor(0, "255 255 255");         // 11 bytes, offered 80: one read
  PutColor(1, "0 0 0");               // 5, offered 11: one read
  PutColor(2, "128 128 128");         // 11, offered 5: two reads
  PutColor(3, std::string(80, '7'));  // 80, offered 11: two reads
  PutColor(4, "1 2 3\0"s);            // 6, offered 80: one read
  Run();
  auto rooms = Rooms();
  ASSERT_EQ(rooms.size(), 8U + 19U);  // the other rows, "1 1 1" in 5 bytes, all fit
  rooms.resize(8);
  EXPECT_EQ(rooms, (Reads{{0, 80}, {1, 11}, {2, 5}, {2, 11}, {3, 11}, {3, 80}, {4, 80}, {5, 6}}));
  EXPECT_EQ(fake.system_colors[2], 0x00808080U);
}

TEST_F(ReloadSystemColorsTest, ComponentsCarryOverFromThePreviousRowAndStartAtZero) {
  PutScheme("1 2 3");
  PutColor(0, "5");    // G and B have no earlier row: 0
  PutColor(1, "9 8");  // B still 0
  PutColor(2, "");     // all kept
  PutColor(3, "10 20 30");
  PutColor(4, "255,255,255");  // R only
  PutColor(5, "9 9 9", 3);     // REG_BINARY: the type is not examined
  Run();
  using Colors = std::map<std::int32_t, std::uint32_t>;
  EXPECT_EQ(
      Colors(fake.system_colors.begin(), std::next(fake.system_colors.begin(), 6)),
      (Colors{
          {0, 0x05U}, {1, 0x0809U}, {2, 0x0809U}, {3, 0x1E140AU}, {4, 0x1E14FFU}, {5, 0x090909U}}));
}

TEST_F(ReloadSystemColorsTest, UnreadableRowsAreLeftOutAndKeepTheirColour) {
  PutScheme("1 2 3");
  fake.registry[{ms::HKEY_CURRENT_USER, ColorsPath()}].erase(NameOf(4));  // missing
  PutColor(7, std::string(81, '5'));                                      // needs more than 80
  PutColor(12, "200 200 200");
  fake.query_faults[NameOf(12)] = {ms::ERROR_ACCESS_DENIED, std::nullopt};
  PutColor(13, "9 9 9");
  Run();
  EXPECT_EQ(fake.CallsOf<call::SetSysColors>(),
            std::vector<call::SetSysColors>{ApplyColors({4, 7, 12})});
  for (const std::int32_t element : {4, 7, 12}) {
    EXPECT_EQ(fake.system_colors.count(element), 0U) << element;
  }
  // The row after an unreadable one is not painted with its neighbour's colour.
  EXPECT_EQ(fake.system_colors[5], 0x00030201U);
  EXPECT_EQ(fake.system_colors[8], 0x00030201U);
  EXPECT_EQ(fake.system_colors[13], 0x00090909U);
  // A missing value is read twice with the same room; one that needs 81 bytes
  // is repeated with 80, never more, and so is the row after it.
  const auto rooms = Rooms();
  ASSERT_GE(rooms.size(), 11U);
  EXPECT_EQ(Reads(rooms.begin() + 4, rooms.begin() + 11),
            (Reads{{4, 5}, {4, 5}, {5, 5}, {6, 5}, {7, 5}, {7, 80}, {8, 80}}));
}

TEST_F(ReloadSystemColorsTest, NoReadableRowMeansNoColourChange) {
  fake.registry[{ms::HKEY_CURRENT_USER, ColorsPath()}];
  EXPECT_EQ(Run(), StepOutcome::kCompleted);
  EXPECT_TRUE(fake.CallsOf<call::SetSysColors>().empty());
  EXPECT_EQ(fake.CallsOf<call::QueryValue>().size(), 50U);
  EXPECT_EQ(fake.calls.back(), Call(call::CloseKey{ColorsPath()}));
}

TEST_F(ReloadSystemColorsTest, MissingKeyIsReportedAndNothingIsRead) {
  EXPECT_EQ(Run(), StepOutcome::kKeyNotOpened);
  EXPECT_EQ(fake.calls, (std::vector<Call>{OpenColors(ms::ERROR_FILE_NOT_FOUND), KeyMissing()}));
}

TEST_F(ReloadSystemColorsTest, KeyNotOpenedEndsTheStepSilently) {
  PutScheme("1 2 3");
  for (const auto& [status, outcome] :
       {std::pair{ms::ERROR_ACCESS_DENIED, StepOutcome::kKeyRefused},
        std::pair{ms::ERROR_NOT_ENOUGH_MEMORY, StepOutcome::kKeyNotOpened}}) {
    fake.calls.clear();
    fake.open_status[ColorsPath()] = status;
    EXPECT_EQ(Run(), outcome) << status;
    EXPECT_EQ(fake.calls, std::vector<Call>{OpenColors(status)});
  }
}

}  // namespace
}  // namespace plenvor
