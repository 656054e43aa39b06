#pragma once

#include <cstdint>

#include "platform/platform_ops.h"
#include "refresh/registry_step.h"

namespace plenvor {

inline constexpr const char* kWindowMetricsPath = ".Default\\Control Panel\\desktop\\WindowMetrics";
inline constexpr const char* kShellIconSizeName = "Shell Icon Size";

// The number a size text stands for: leading white space, one optional sign,
// then decimal digits, wrapping at 32 bits. No digits gives 0.
std::int32_t ConvertSizeText(const char* text);

// Announces an icon-metrics change twice around a temporary "0" in the default
// user's "Shell Icon Size", and leaves a valid size stored there.
StepOutcome RefreshIconMetrics(PlatformOps& ops, ValueBuffer& buffer);

}  // namespace plenvor
