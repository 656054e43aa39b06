#include "platform/windows_launcher.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <array>

namespace plenvor::launcher {
namespace {

// Room for a path far longer than the Program Files folder's; a longer one
// fails to start rather than being cut.
constexpr DWORD kPathRoom = 4096;
using Path = std::array<wchar_t, kPathRoom>;

// program_path becomes this file's folder and `name`. False when the path
// does not fit.
bool PathBeside(const wchar_t* name, Path& program_path) {
  const DWORD length = ::GetModuleFileNameW(nullptr, program_path.data(), kPathRoom);
  if (length == 0 || length >= kPathRoom) {
    return false;  // failed, or cut short
  }
  DWORD folder_end = length;
  while (folder_end > 0 && program_path[folder_end - 1] != L'\\') {
    --folder_end;
  }
  DWORD at = folder_end;
  for (const wchar_t* c = name; *c != L'\0'; ++c, ++at) {
    if (at + 1 >= kPathRoom) {
      return false;
    }
    program_path[at] = *c;
  }
  program_path[at] = L'\0';
  return folder_end > 0;
}

}  // namespace

std::uint32_t RunBesideWithoutWindow(const wchar_t* name) {
  Path program_path{};
  if (!PathBeside(name, program_path)) {
    return kNotStarted;
  }
  // The command line is the program's quoted path alone: no arguments.
  // CreateProcessW may write to it, so it is a copy.
  std::array<wchar_t, kPathRoom + 2> command_line{};
  std::size_t at = 0;
  command_line[at++] = L'"';
  for (std::size_t i = 0; program_path[i] != L'\0'; ++i) {
    command_line[at++] = program_path[i];
  }
  command_line[at++] = L'"';
  command_line[at] = L'\0';

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // The application name is the full path, so nothing is searched for.
  if (::CreateProcessW(program_path.data(), command_line.data(), nullptr, nullptr, FALSE,
                       CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process) == FALSE) {
    return kNotStarted;
  }
  ::CloseHandle(process.hThread);
  // The program bounds its own run; the task's time limit bounds this wait.
  DWORD status = kNotStarted;
  if (::WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      ::GetExitCodeProcess(process.hProcess, &status) == FALSE) {
    status = kNotStarted;
  }
  ::CloseHandle(process.hProcess);
  return status;
}

}  // namespace plenvor::launcher
