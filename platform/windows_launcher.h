#pragma once

#include <cstdint>

// The windowless form's one job: start the console program beside it so that
// no console window appears, and pass its exit status on.
namespace plenvor::launcher {

// The status when the program cannot be started (not beside this one, say).
// No status of plenvor.exe is 255.
inline constexpr std::uint32_t kNotStarted = 255;

// Starts `name` from the folder of this process's own file, never from the
// search path or the working directory, with no arguments, no inherited
// handles and CREATE_NO_WINDOW; waits for it and returns its exit status
// unchanged. kNotStarted when it cannot be started; nothing is shown then.
std::uint32_t RunBesideWithoutWindow(const wchar_t* name);

}  // namespace plenvor::launcher
