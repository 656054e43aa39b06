#include "platform/windows_launcher.h"

// The windowless form, for the logon task: plenvor.exe's run with no console
// window, its exit status passed on. The command line is ignored.
int main() { return static_cast<int>(plenvor::launcher::RunBesideWithoutWindow(L"plenvor.exe")); }
