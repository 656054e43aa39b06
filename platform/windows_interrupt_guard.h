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

// Once per process, before any other call here.
void Initialize();

// Ends the process with status through TerminateProcess, without the DLL
// detach that ExitProcess would run while other threads stand wherever they
// stopped (inside user32, say). Nothing more of the caller runs.
[[noreturn]] void EndProcessNow(UINT status);

// RegSetValueExA, never at the same time as the guard's own store, and never
// after it.
LONG SetValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD count);

// Until Disarm, either event stores text as REG_SZ `name` of `key` and ends
// the process with STATUS_CONTROL_C_EXIT. From the first Arm on, the end of
// the session ends the process that way even when disarmed, with no store.
void Arm(HKEY key, const char* name, const char* text);
void Disarm();

}  // namespace plenvor::interrupt_guard
