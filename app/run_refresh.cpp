#include "app/run_refresh.h"

#include "app/emit_text.h"
#include "platform/bounds.h"
#include "plenvor_version.h"
#include "refresh/icon_metrics.h"
#include "refresh/registry_step.h"
#include "refresh/system_colors.h"
#include "refresh/win32_codes.h"

namespace plenvor {
namespace {

// The version and the description are the ones project() gives the build.
constexpr const char* kVersionLine = " Plenvor Version " PLENVOR_VERSION_TEXT "\n";
constexpr const char* kDescriptionLine = " " PLENVOR_DESCRIPTION "\n";
constexpr const char* kBanner[] = {
    kVersionLine,
    " Written By the Plenvor developers\n",
    " email: plenvor@example.org\n",
    " \n",
    kDescriptionLine,
    " \n",
};

// The lowest non-zero status says most about the run; a refused key (4),
// which every run without an administrator's token meets, says least.
StepOutcome Combine(StepOutcome a, StepOutcome b) {
  if (a == StepOutcome::kCompleted) {
    return b;
  }
  return b == StepOutcome::kCompleted || a < b ? a : b;
}

// Each request broadcasts WM_SETTINGCHANGE, and so may wait on every window.
bool RequestInTime(PlatformOps& ops, std::uint32_t action) {
  return ops.ApplySystemParameter(action, 0, nullptr, win::SPIF_SENDWININICHANGE,
                                  bounds::kSystemParameterMs) == Bounded::kReturned;
}

}  // namespace

StepOutcome ReloadCursorsAndWallpaper(PlatformOps& ops) {
  const bool cursors = RequestInTime(ops, win::SPI_SETCURSORS);
  const bool wallpaper = RequestInTime(ops, win::SPI_SETDESKWALLPAPER);
  return cursors && wallpaper ? StepOutcome::kCompleted : StepOutcome::kCutShort;
}

StepOutcome RunRefresh(PlatformOps& ops) {
  for (const char* line : kBanner) {
    EmitText(line);
  }
  ValueBuffer buffer;
  const StepOutcome icons = RefreshIconMetrics(ops, buffer);
  const StepOutcome reloads = ReloadCursorsAndWallpaper(ops);
  const StepOutcome colors = ReloadSystemColors(ops, buffer);
  return Combine(Combine(icons, reloads), colors);
}

}  // namespace plenvor
