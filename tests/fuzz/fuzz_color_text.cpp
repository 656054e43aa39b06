// The colour text parse against the C library's "%i %i %i", on the inputs
// where the two are meant to agree: the library saturates numbers too long
// for a long, and takes a bare "0x" as the number 0.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "refresh/system_colors.h"

namespace {

bool LibraryAgreesOn(const std::string& text) {
  std::size_t digits = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    digits = std::strchr("0123456789abcdefABCDEF", c) != nullptr && c != '\0' ? digits + 1 : 0;
    if (digits > 15) {
      return false;
    }
    if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        (i + 2 >= text.size() || std::strchr("0123456789abcdefABCDEF", text[i + 2]) == nullptr ||
         text[i + 2] == '\0')) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The parse sees the text up to its first NUL.
  const std::string text(reinterpret_cast<const char*>(data),
                         static_cast<std::size_t>(std::find(data, data + size, 0) - data));
  std::array<std::int32_t, 3> rgb = {11, 22, 33};
  const int parsed = plenvor::ParseColorText(text.c_str(), rgb);
  if (parsed < 0 || parsed > 3) {
    std::abort();
  }
  // Components not reached keep their values.
  const std::array<std::int32_t, 3> before = {11, 22, 33};
  if (!std::equal(rgb.begin() + parsed, rgb.end(), before.begin() + parsed)) {
    std::abort();
  }
  if (LibraryAgreesOn(text)) {
    int library[3] = {11, 22, 33};
    // NOLINTNEXTLINE(cert-err34-c): the library's own reading is the point
    int matched = std::sscanf(text.c_str(), "%i %i %i", &library[0], &library[1], &library[2]);
    matched = matched < 0 ? 0 : matched;
    if (matched != parsed || library[0] != rgb[0] || library[1] != rgb[1] || library[2] != rgb[2]) {
      std::abort();
    }
  }
  (void)plenvor::ComposeColor(rgb[0], rgb[1], rgb[2]);
  return 0;
}
