#pragma once

#include "platform/platform_ops.h"
#include "refresh/registry_step.h"

namespace plenvor {

// Exit statuses of a run.
inline constexpr int kExitDone = 0;          // every step ran in full
inline constexpr int kExitKeyNotOpened = 1;  // a step could not open its registry key
// 2: the icon size was left alone (another run held it too long, or another
//    program holds the lock's name) or could not be stored. 3: a window did
//    not confirm a change in time: a broadcast, a system-parameter request or
//    the colour change was cut short. Where several apply, the lowest.

// The whole run: banner, icon metrics, cursors and wallpaper, colours.
// Returns the exit status.
int RunRefresh(PlatformOps& ops);

// Asks for the cursor set and the wallpaper to be reloaded, without storing
// either in the user's profile. kCutShort when a request was cut short.
StepOutcome ReloadCursorsAndWallpaper(PlatformOps& ops);

}  // namespace plenvor
