#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The cases and names under tests/data, which the unit tests, the fuzz seeds and
// the Wine suite all read, so that each is written once and never taken from
// the program's own constants.
namespace plenvor::test_data {

struct IconSizeCase {
  std::uint32_t type;
  std::string bytes;
  std::int32_t number;  // what the bytes up to their first NUL convert to
  std::string stored;   // what a run stores back
};
const std::vector<IconSizeCase>& IconSizes();

struct ColorTextCase {
  std::string text;
  std::uint32_t color;  // composed after a row of "1 2 3"
  int parsed;
};
const std::vector<ColorTextCase>& ColorTexts();

// The 25 value names of a colour scheme, by display element.
const std::vector<std::string>& ColorNames();

// The banner's lines, each with its "\n", for the version the build gives.
const std::vector<std::string>& BannerLines();

// A fact from facts.tsv: "window_metrics", "icon_size", "colors", "lock", and the
// size rule's numbers "min_size", "max_size", "fallback_size", "room".
const std::string& Fact(const std::string& key);
std::uint32_t FactNumber(const std::string& key);

}  // namespace plenvor::test_data
