#pragma once

#include "platform/platform_ops.h"

namespace plenvor {

// Exit statuses of a run.
inline constexpr int kExitDone = 0;          // every step ran in full
inline constexpr int kExitKeyNotOpened = 1;  // a step could not open its registry key

// The whole run: banner, icon metrics, cursors and wallpaper, colours.
// Returns the exit status.
int RunRefresh(PlatformOps& ops);

// Asks for the cursor set and the wallpaper to be reloaded, without storing
// either in the user's profile.
void ReloadCursorsAndWallpaper(PlatformOps& ops);

}  // namespace plenvor
