#include "tests/test_data.h"

#include <map>

namespace plenvor::test_data {
namespace {
#include "test_data.inc"  // made from tests/data at build time
}  // namespace

const std::vector<IconSizeCase>& IconSizes() { return kIconSizes; }
const std::vector<ColorTextCase>& ColorTexts() { return kColorTexts; }
const std::vector<std::string>& ColorNames() { return kColorNames; }
const std::vector<std::string>& BannerLines() { return kBannerLines; }
const std::string& Fact(const std::string& key) { return kFacts.at(key); }
std::uint32_t FactNumber(const std::string& key) {
  return static_cast<std::uint32_t>(std::stoul(Fact(key)));
}

}  // namespace plenvor::test_data
