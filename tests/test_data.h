#pragma once

#include <cstdint>
#include <map>
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

struct ColorTextCase {
  std::string text;
  std::uint32_t color;  // composed after a row of "1 2 3"
  int parsed;
};

// kIconSizes and kColorTexts; kColorNames, the 25 value names of a colour
// scheme by display element; kBannerLines, the banner's lines, each with its
// "\n", for the version the build gives; and kFacts, from facts.tsv:
// "window_metrics", "icon_size", "colors", "lock", "key_missing", and the size rule's numbers
// "min_size", "max_size", "fallback_size", "room".
#include "test_data.inc"  // made from tests/data at build time

inline const std::string& Fact(const std::string& key) { return kFacts.at(key); }
inline std::uint32_t FactNumber(const std::string& key) {
  return static_cast<std::uint32_t>(std::stoul(Fact(key)));
}

}  // namespace plenvor::test_data
