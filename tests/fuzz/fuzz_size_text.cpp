// The icon size conversion against a plain 64-bit reading of the same rules.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "refresh/icon_metrics.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::int32_t converted = plenvor::ConvertSizeText(text.c_str());

  std::size_t i = 0;
  while (i < text.size() && text[i] != '\0' &&
         std::string(" \t\n\v\f\r").find(text[i]) != std::string::npos) {
    ++i;
  }
  std::int64_t sign = 1;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    sign = text[i] == '-' ? -1 : 1;
    ++i;
  }
  std::uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = (value * 10 + static_cast<std::uint64_t>(text[i] - '0')) % (1ULL << 32);
  }
  const auto expected = static_cast<std::uint32_t>(static_cast<std::uint64_t>(sign) * value);
  if (static_cast<std::uint32_t>(converted) != expected) {
    std::abort();
  }
  return 0;
}
