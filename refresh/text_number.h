#pragma once

#include <cstdint>

namespace plenvor {

// Moves text past leading white space (blank, tab, line feed, vertical tab,
// form feed, carriage return: fixed here so no locale can change them) and one
// optional sign. Returns true for a minus sign.
bool SkipSpaceAndSign(const char*& text);

// Value of c as a digit in base (8, 10 or 16), or -1 when it is not one.
int DigitValue(char c, unsigned base);

// Takes the digits of `base` at text, accumulating into value with 32-bit
// wrapping. Returns how many digits were taken; text is moved past them.
int AccumulateDigits(const char*& text, unsigned base, std::uint32_t& value);

// Two's-complement reading of a wrapped 32-bit result.
std::int32_t WrapToInt32(std::uint32_t value);

}  // namespace plenvor
