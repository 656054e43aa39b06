#pragma once

#include <cstdint>

// How long a run waits, at most, on what it does not control, in
// milliseconds. They live together because the documents promise their sum:
// whatever the desktop does, a run ends within kRunMs.
namespace plenvor::bounds {

// Another run's turn with the icon size, before this one leaves it alone.
inline constexpr std::uint32_t kIconSizeLockWaitMs = 30000;
// The interrupt guard's end-session window coming into being, once a run.
inline constexpr std::uint32_t kEndSessionWindowMs = 2000;
// Each window's answer to an icon-metrics broadcast; windows take their
// time-outs one after another, so each broadcast (two a run) also has a
// bound as a whole.
inline constexpr std::uint32_t kBroadcastWindowMs = 5000;
inline constexpr std::uint32_t kBroadcastMs = 10000;
// Each of the two requests (cursors, wallpaper), which broadcast too.
inline constexpr std::uint32_t kSystemParameterMs = 5000;
// The colour change, which repaints every visible window.
inline constexpr std::uint32_t kColorChangeMs = 10000;

inline constexpr std::uint32_t kRunMs = 75000;
static_assert(kIconSizeLockWaitMs + kEndSessionWindowMs + 2 * kBroadcastMs +
                      2 * kSystemParameterMs + kColorChangeMs <=
                  kRunMs,
              "the bounds of one run must add up to at most the 75 s the documents promise");
static_assert(kBroadcastWindowMs <= kBroadcastMs, "a broadcast waits for one window at least");

}  // namespace plenvor::bounds
