#include "app/run_refresh.h"

#include "app/emit_text.h"
#include "refresh/icon_metrics.h"
#include "refresh/registry_step.h"
#include "refresh/system_colors.h"
#include "refresh/win32_codes.h"

namespace plenvor {
namespace {

constexpr const char* kBanner[] = {
    " Plenvor Version 1.0\n",
    " Written By the Plenvor developers\n",
    " email: plenvor@example.org\n",
    " \n",
    " Makes the desktop apply the stored icon size, cursors, wallpaper and colours again.\n",
    " \n",
};

}  // namespace

void ReloadCursorsAndWallpaper(PlatformOps& ops) {
  ops.ApplySystemParameter(win::SPI_SETCURSORS, 0, nullptr, win::SPIF_SENDWININICHANGE);
  ops.ApplySystemParameter(win::SPI_SETDESKWALLPAPER, 0, nullptr, win::SPIF_SENDWININICHANGE);
}

int RunRefresh(PlatformOps& ops) {
  for (const char* line : kBanner) {
    EmitText(line);
  }
  ValueBuffer buffer;
  const auto icons = static_cast<int>(RefreshIconMetrics(ops, buffer));
  ReloadCursorsAndWallpaper(ops);
  const auto colors = static_cast<int>(ReloadSystemColors(ops, buffer));
  // The lowest non-zero status is the one that says most about the run.
  if (icons == kExitDone) {
    return colors;
  }
  return colors == kExitDone || icons < colors ? icons : colors;
}

}  // namespace plenvor
