#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// The Windows side of the interrupt guard: what ends the process early, and
// the one store it makes first. Ctrl-C, Ctrl-Break and the console closing
// reach the console handler. Logoff and shutdown do not reach it on Windows 7
// and later in a program that loads user32: there they come as
// WM_QUERYENDSESSION and WM_ENDSESSION to the program's top-level windows, so
// a hidden window of our own receives them.
namespace plenvor::interrupt_guard {

// Once per process, before any other call here. From here on every console
// control event ends the process through EndProcessNow with
// STATUS_CONTROL_C_EXIT: the default handler, which ends it through
// ExitProcess (and with status 0 under Wine), never runs.
void Initialize();

// Ends the process with status through TerminateProcess, without the DLL
// detach that ExitProcess would run while other threads stand wherever they
// stopped (inside user32, say). Nothing more of the caller runs.
[[noreturn]] void EndProcessNow(UINT status);

// RegSetValueExA, never at the same time as the guard's own store, and never
// after it.
LONG SetValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD count);

// Until Disarm, either event stores text (at most kMaxValueBytes long) as
// REG_SZ `name` of `key` before the process ends. From the first Arm on, the
// end of the session ends the process too, with no store once disarmed.
void Arm(HKEY key, const char* name, const char* text);
void Disarm();

}  // namespace plenvor::interrupt_guard
