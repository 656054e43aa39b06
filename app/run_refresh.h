#pragma once

#include "platform/platform_ops.h"
#include "refresh/registry_step.h"

namespace plenvor {

// The whole run: banner, icon metrics, cursors and wallpaper, colours.
// Returns the lowest non-zero outcome of its steps: the exit status.
StepOutcome RunRefresh(PlatformOps& ops);

// Asks for the cursor set and the wallpaper to be reloaded, without storing
// either in the user's profile. kCutShort when a request was cut short.
StepOutcome ReloadCursorsAndWallpaper(PlatformOps& ops);

}  // namespace plenvor
