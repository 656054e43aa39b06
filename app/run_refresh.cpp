#include "app/run_refresh.h"

#include "app/emit_text.h"
#include "plenvor_version.h"
#include "refresh/icon_metrics.h"
#include "refresh/registry_step.h"
#include "refresh/system_colors.h"
#include "refresh/win32_codes.h"

namespace plenvor {
namespace {

// The version is the one project() gives the build.
constexpr const char* kVersionLine = " Plenvor Version " PLENVOR_VERSION_TEXT "\n";
constexpr const char* kBanner[] = {
    kVersionLine,
    " Written By the Plenvor developers\n",
    " email: plenvor@example.org\n",
    " \n",
    " Makes the desktop apply the stored icon size, cursors, wallpaper and colours again.\n",
    " \n",
};

// Each request broadcasts WM_SETTINGCHANGE, and so may wait on every window.
constexpr std::uint32_t kSystemParameterBoundMs = 5000;

// The lowest non-zero status is the one that says most about the run.
int Combine(int a, int b) {
  if (a == kExitDone) {
    return b;
  }
  return b == kExitDone || a < b ? a : b;
}

}  // namespace

StepOutcome ReloadCursorsAndWallpaper(PlatformOps& ops) {
  const bool cursors =
      ops.ApplySystemParameter(win::SPI_SETCURSORS, 0, nullptr, win::SPIF_SENDWININICHANGE,
                               kSystemParameterBoundMs) == win::WAIT_OBJECT_0;
  const bool wallpaper =
      ops.ApplySystemParameter(win::SPI_SETDESKWALLPAPER, 0, nullptr, win::SPIF_SENDWININICHANGE,
                               kSystemParameterBoundMs) == win::WAIT_OBJECT_0;
  return cursors && wallpaper ? StepOutcome::kCompleted : StepOutcome::kCutShort;
}

int RunRefresh(PlatformOps& ops) {
  for (const char* line : kBanner) {
    EmitText(line);
  }
  ValueBuffer buffer;
  const auto icons = static_cast<int>(RefreshIconMetrics(ops, buffer));
  const auto reloads = static_cast<int>(ReloadCursorsAndWallpaper(ops));
  const auto colors = static_cast<int>(ReloadSystemColors(ops, buffer));
  return Combine(Combine(icons, reloads), colors);
}

}  // namespace plenvor
