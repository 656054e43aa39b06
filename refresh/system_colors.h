#pragma once

#include <array>
#include <cstdint>

#include "platform/platform_ops.h"
#include "refresh/registry_step.h"

namespace plenvor {

inline constexpr const char* kColorsPath = "Control Panel\\Colors";

// Value names of the colour scheme; a row's position is its display element
// (COLOR_SCROLLBAR = 0 ... COLOR_INFOBK = 24).
extern const std::array<const char*, kSystemColorCount> SystemColorTable;

// R + 256*G + 65536*B in wrapping 32-bit arithmetic; components are not
// clamped, so an excess carries into the next one.
std::uint32_t ComposeColor(std::int32_t red, std::int32_t green, std::int32_t blue);

// Reads up to three integers from text as "%i %i %i" would (hex after 0x,
// octal after a leading 0, decimal otherwise; wrapping at 32 bits), stopping
// at the first mismatch. Components not reached keep their values. Returns how
// many were read.
int ParseColorText(const char* text, std::array<std::int32_t, 3>& rgb);

// Reads the current user's 25 scheme colours and applies them in one call.
StepOutcome ReloadSystemColors(PlatformOps& ops, ValueBuffer& buffer);

}  // namespace plenvor
