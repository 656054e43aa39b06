#include "refresh/system_colors.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "tests/fake_fixture.h"

namespace plenvor {
namespace {

using namespace std::string_literals;

struct ColorCase {
  std::string text;
  std::uint32_t color;  // composed after a previous row of 1 2 3
  int parsed;
};

const std::vector<ColorCase> kColorCases = {
    {"192 192 192", 0x00C0C0C0, 3},
    {"255 0 0", 0x000000FF, 3},
    {"0 0 128", 0x00800000, 3},
    {"010 0x10 16", 0x00101008, 3},
    {"064 064 064", 0x00343434, 3},
    {"08 0 0", 0x00000800, 3},  // octal 0 ends at the 8, which starts G
    {"1-2-3", 0xFFFCFE01, 3},
    {"300 0 0", 0x0000012C, 3},
    {"-1 0 0", 0xFFFFFFFF, 3},
    {"  1 2 3", 0x00030201, 3},
    {"1 2 3 4", 0x00030201, 3},
    {"1\t\t2   3", 0x00030201, 3},
    {"1\r\n2\v\f3", 0x00030201, 3},
    {"255,255,255", 0x000302FF, 1},
    {"0x 5 5", 0x00030201, 0},
    {"", 0x00030201, 0},
    {"1 0x 2", 0x00030201, 1},
    {"0X1f +0x1F -0x1", 0xFFFF1F1F, 3},
    {"7", 0x00030207, 1},
    {"7 8", 0x00030807, 2},
    {"- 1 2 3", 0x00030201, 0},  // a sign with no digit after it
    {"+5 +6 +7", 0x00070605, 3},
    {"0 0 0", 0x00000000, 3},
    {"0", 0x00030200, 1},               // a lone 0 is a number
    {"09 9 9", 0x00090900, 3},          // octal 0, then 9 and 9
    {"4294967296 1 1", 0x00010100, 3},  // wraps to 0
    {"0xFFFFFFFF 0 0", 0xFFFFFFFF, 3},
    {"99999999999 0 0", 0x4876E7FF, 3},  // wraps to 0x4876E7FF
    {"0 0 256", 0x01000000, 3},          // B's excess goes to the top byte
    {"0 0 16777216", 0x00000000, 3},     // and beyond it leaves 32 bits
    {"0 -1 0", 0xFFFFFF00, 3},
    {"abc", 0x00030201, 0},
};

TEST(ParseColorText, ParsesLikePercentIAndComposes) {
  for (const ColorCase& c : kColorCases) {
    std::array<std::int32_t, 3> rgb = {1, 2, 3};
    EXPECT_EQ(ParseColorText(c.text.c_str(), rgb), c.parsed) << "'" << c.text << "'";
    EXPECT_EQ(ComposeColor(rgb[0], rgb[1], rgb[2]), c.color) << "'" << c.text << "'";
  }
}

class ReloadSystemColorsTest : public FakeTest {
 protected:
  StepOutcome Run() { return ReloadSystemColors(fake, buffer); }
  std::vector<std::string> Rooms() const {
    std::vector<std::string> rooms;
    for (const std::string& line : Calls("QueryValue")) {
      const auto at = line.find("room=");
      rooms.push_back(line.substr(0, line.find(' ', 11)) + " " +
                      line.substr(at + 5, line.find(' ', at) - at - 5));
    }
    return rooms;
  }
  ValueBuffer buffer;
};

TEST_F(ReloadSystemColorsTest, ReadsEveryRowInOrderThenAppliesAllAtOnce) {
  for (int element = 0; element < kSystemColorCount; ++element) {
    PutColor(element, std::to_string(element) + " 0 0");
  }
  EXPECT_EQ(Run(), StepOutcome::kCompleted);
  std::vector<std::string> expected = {"OpenKey 80000001 Control Panel\\Colors 0 20019 -> 0"};
  std::uint32_t room = 80;
  for (int element = 0; element < kSystemColorCount; ++element) {
    const std::string name = SystemColorTable[static_cast<std::size_t>(element)];
    const auto size = static_cast<std::uint32_t>((std::to_string(element) + " 0 0").size());
    if (size > room) {  // "10 0 0" after "9 0 0": too little room, one repeat
      expected.push_back("QueryValue " + name + " room=" + std::to_string(room) +
                         " -> 234 count=" + std::to_string(size));
      room = size;
    }
    expected.push_back("QueryValue " + name + " room=" + std::to_string(room) +
                       " -> 0 count=" + std::to_string(size));
    room = size;
  }
  expected.push_back("SetSysColors 25 bound=10000");
  expected.push_back("CloseKey");
  EXPECT_EQ(fake.log, expected);
  for (std::int32_t element = 0; element < kSystemColorCount; ++element) {
    EXPECT_EQ(fake.system_colors[element], static_cast<std::uint32_t>(element)) << element;
  }
}

TEST_F(ReloadSystemColorsTest, AChangeThatNeverReturnsIsLeftBehindAndReported) {
  PutScheme("1 2 3");
  fake.colors_never_return = true;
  EXPECT_EQ(Run(), StepOutcome::kChangeUnconfirmed);
  const std::vector<std::string> tail(fake.log.end() - 2, fake.log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"SetSysColors 25 bound=10000", "CloseKey"}));
}

TEST_F(ReloadSystemColorsTest, CarriesTheRoomFromRowToRow) {
  PutScheme("1 1 1");
  PutColor(0, "255 255 255");         // 11 bytes, offered 80: one read
  PutColor(1, "0 0 0");               // 5, offered 11: one read
  PutColor(2, "128 128 128");         // 11, offered 5: two reads
  PutColor(3, std::string(80, '7'));  // 80, offered 11: two reads
  PutColor(4, "1 2 3\0"s);            // 6, offered 80: one read
  Run();
  const std::vector<std::string> rooms = Rooms();
  ASSERT_GE(rooms.size(), 8U);
  EXPECT_EQ(std::vector<std::string>(rooms.begin(), rooms.begin() + 8),
            (std::vector<std::string>{"QueryValue Scrollbar 80", "QueryValue Background 11",
                                      "QueryValue ActiveTitle 5", "QueryValue ActiveTitle 11",
                                      "QueryValue InactiveTitle 11", "QueryValue InactiveTitle 80",
                                      "QueryValue Menu 80", "QueryValue Window 6"}));
  EXPECT_EQ(rooms.size(), 8U + 19U);  // the other rows, "1 1 1" in 5 bytes, all fit
  EXPECT_EQ(fake.system_colors[2], 0x00808080U);
}

TEST_F(ReloadSystemColorsTest, ComponentsCarryOverFromThePreviousRowAndStartAtZero) {
  PutScheme("1 2 3");
  PutColor(0, "5");    // G and B have no earlier row: 0
  PutColor(1, "9 8");  // B still 0
  PutColor(2, "");     // all kept
  PutColor(3, "10 20 30");
  PutColor(4, "255,255,255");  // R only
  Run();
  EXPECT_EQ(fake.system_colors[0], 0x00000005U);
  EXPECT_EQ(fake.system_colors[1], 0x00000809U);
  EXPECT_EQ(fake.system_colors[2], 0x00000809U);
  EXPECT_EQ(fake.system_colors[3], 0x001E140AU);
  EXPECT_EQ(fake.system_colors[4], 0x001E14FFU);
}

TEST_F(ReloadSystemColorsTest, ValueTypeIsNotExamined) {
  PutScheme("1 2 3");
  fake.registry[{win::HKEY_CURRENT_USER, kColorsPath}]["Menu"] =
      FakePlatform::Value{3, {'9', ' ', '9', ' ', '9'}};
  Run();
  EXPECT_EQ(fake.system_colors[4], 0x00090909U);
}

TEST_F(ReloadSystemColorsTest, UnreadableRowsAreLeftOutAndKeepTheirColour) {
  PutScheme("1 2 3");
  auto& values = fake.registry[{win::HKEY_CURRENT_USER, kColorsPath}];
  values.erase("Menu");               // missing
  PutColor(7, std::string(81, '5'));  // needs more than 80
  PutColor(12, "200 200 200");
  fake.query_faults["AppWorkspace"] = {win::ERROR_ACCESS_DENIED, std::nullopt};
  PutColor(13, "9 9 9");
  Run();
  EXPECT_EQ(Calls("SetSysColors"), std::vector<std::string>{"SetSysColors 22 bound=10000"});
  for (const std::int32_t element : {4, 7, 12}) {
    EXPECT_EQ(fake.system_colors.count(element), 0U) << element;
  }
  // The row after an unreadable one is not painted with its neighbour's colour.
  EXPECT_EQ(fake.system_colors[5], 0x00030201U);
  EXPECT_EQ(fake.system_colors[8], 0x00030201U);
  EXPECT_EQ(fake.system_colors[13], 0x00090909U);
  const std::vector<std::string> rooms = Rooms();
  // A missing value is read twice with the same room; one that needs 81 bytes
  // is repeated with 80, never more, and so is the row after it.
  const auto menu = std::find(rooms.begin(), rooms.end(), "QueryValue Menu 5");
  ASSERT_NE(menu, rooms.end());
  EXPECT_EQ(std::vector<std::string>(menu, menu + 6),
            (std::vector<std::string>{"QueryValue Menu 5", "QueryValue Menu 5",
                                      "QueryValue Window 5", "QueryValue WindowFrame 5",
                                      "QueryValue MenuText 5", "QueryValue MenuText 80"}));
  EXPECT_EQ(menu[6], "QueryValue WindowText 80");
}

TEST_F(ReloadSystemColorsTest, NoReadableRowMeansNoColourChange) {
  fake.registry[{win::HKEY_CURRENT_USER, kColorsPath}];
  EXPECT_EQ(Run(), StepOutcome::kCompleted);
  EXPECT_TRUE(Calls("SetSysColors").empty());
  EXPECT_EQ(Calls("QueryValue").size(), 50U);
  EXPECT_EQ(fake.log.back(), "CloseKey");
}

TEST_F(ReloadSystemColorsTest, MissingKeyIsReportedAndNothingIsRead) {
  EXPECT_EQ(Run(), StepOutcome::kKeyNotOpened);
  EXPECT_EQ(fake.log, (std::vector<std::string>{
                          "OpenKey 80000001 Control Panel\\Colors 0 20019 -> 2",
                          "Emit  Key doesn't exist \n",
                      }));
}

TEST_F(ReloadSystemColorsTest, RefusedKeyEndsTheStepSilently) {
  PutScheme("1 2 3");
  fake.open_status[kColorsPath] = win::ERROR_ACCESS_DENIED;
  EXPECT_EQ(Run(), StepOutcome::kKeyNotOpened);
  EXPECT_EQ(fake.log,
            std::vector<std::string>{"OpenKey 80000001 Control Panel\\Colors 0 20019 -> 5"});
}

}  // namespace
}  // namespace plenvor
