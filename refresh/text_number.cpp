#include "refresh/text_number.h"

#include <cstring>

namespace plenvor {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

bool SkipSpaceAndSign(const char*& text) {
  while (IsSpace(*text)) {
    ++text;
  }
  const bool negative = *text == '-';
  if (*text == '+' || *text == '-') {
    ++text;
  }
  return negative;
}

int DigitValue(char c, unsigned base) {
  int value = -1;
  if (c >= '0' && c <= '9') {
    value = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    value = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    value = c - 'A' + 10;
  }
  return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
}

int AccumulateDigits(const char*& text, unsigned base, std::uint32_t& value) {
  int taken = 0;
  for (int digit = DigitValue(*text, base); digit >= 0; digit = DigitValue(*text, base)) {
    value = value * base + static_cast<std::uint32_t>(digit);
    ++text;
    ++taken;
  }
  return taken;
}

std::int32_t WrapToInt32(std::uint32_t value) {
  std::int32_t result = 0;
  std::memcpy(&result, &value, sizeof result);
  return result;
}

}  // namespace plenvor
