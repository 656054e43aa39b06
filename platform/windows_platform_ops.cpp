#include "platform/windows_platform_ops.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace plenvor {
namespace {

// Predefined roots such as HKEY_USERS are integers cast to a handle.
// NOLINTNEXTLINE(performance-no-int-to-ptr)
HKEY ToHkey(RegKey key) { return reinterpret_cast<HKEY>(key); }

// NOLINTNEXTLINE(performance-no-int-to-ptr)
HANDLE ToHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

// The console handler runs on a thread of its own, so what it needs lives
// here. `lock` is held around every store, so that the handler's store can
// neither overlap one of the run's nor be followed by one.
struct InterruptGuard {
  CRITICAL_SECTION lock;
  bool armed;
  HKEY key;
  const char* name;
  char text[81];
  DWORD length;
};
InterruptGuard guard;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

BOOL WINAPI OnConsoleEvent(DWORD /*event*/) {
  ::EnterCriticalSection(&guard.lock);
  if (!guard.armed) {
    ::LeaveCriticalSection(&guard.lock);
    return FALSE;  // the usual effect: the next handler ends the process
  }
  ::RegSetValueExA(guard.key, guard.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(guard.text),
                   guard.length);
  // Still holding the lock: a store the run tries after this one never
  // happens. Ended at once, without the DLL detach that ExitProcess would run
  // while the run's own thread is stopped wherever it stood.
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
  return TRUE;
}

// One colour change, copied off the caller's stack: the call may still be
// running after the caller has given up on it and returned.
struct ColorChange {
  int count;
  INT* elements;
  COLORREF* colors;
};

DWORD WINAPI ApplyColorChange(void* param) {
  const auto* change = static_cast<const ColorChange*>(param);
  return ::SetSysColors(change->count, change->elements, change->colors) != FALSE ? 1 : 0;
}

}  // namespace

WindowsPlatformOps::WindowsPlatformOps() { ::InitializeCriticalSection(&guard.lock); }

std::int32_t WindowsPlatformOps::OpenKey(RegKey root, const char* subkey, std::uint32_t options,
                                         std::uint32_t access, RegKey* key) {
  HKEY opened = nullptr;
  const LONG status = ::RegOpenKeyExA(ToHkey(root), subkey, options, access, &opened);
  *key = reinterpret_cast<RegKey>(opened);
  return status;
}

std::int32_t WindowsPlatformOps::QueryValue(RegKey key, const char* name, std::uint32_t* type,
                                            std::uint8_t* data, std::uint32_t* count) {
  DWORD value_type = 0;
  DWORD value_count = *count;
  const LONG status =
      ::RegQueryValueExA(ToHkey(key), name, nullptr, &value_type, data, &value_count);
  *type = value_type;
  *count = value_count;
  return status;
}

std::int32_t WindowsPlatformOps::SetValue(RegKey key, const char* name, std::uint32_t type,
                                          const std::uint8_t* data, std::uint32_t count) {
  ::EnterCriticalSection(&guard.lock);
  const LONG status = ::RegSetValueExA(ToHkey(key), name, 0, type, data, count);
  ::LeaveCriticalSection(&guard.lock);
  return status;
}

std::int32_t WindowsPlatformOps::CloseKey(RegKey key) { return ::RegCloseKey(ToHkey(key)); }

std::int32_t WindowsPlatformOps::BroadcastMessage(std::uint32_t message, std::uint32_t wparam,
                                                  std::int32_t lparam, std::uint32_t flags,
                                                  std::uint32_t timeout_ms) {
  DWORD_PTR result = 0;
  return static_cast<std::int32_t>(
      ::SendMessageTimeoutA(HWND_BROADCAST, message, wparam, lparam, flags, timeout_ms, &result));
}

std::int32_t WindowsPlatformOps::ApplySystemParameter(std::uint32_t action, std::uint32_t param,
                                                      void* data, std::uint32_t flags) {
  return ::SystemParametersInfoA(action, param, data, flags);
}

std::uint32_t WindowsPlatformOps::SetSysColors(std::int32_t count, const std::int32_t* elements,
                                               const std::uint32_t* colors,
                                               std::uint32_t timeout_ms) {
  const auto items = static_cast<SIZE_T>(count > 0 ? count : 0);
  auto* change = static_cast<ColorChange*>(::HeapAlloc(
      ::GetProcessHeap(), 0, sizeof(ColorChange) + items * (sizeof(INT) + sizeof(COLORREF))));
  if (change == nullptr) {
    // INT and COLORREF (DWORD) have the same layout as the fixed-width types.
    ::SetSysColors(count, reinterpret_cast<const INT*>(elements),
                   reinterpret_cast<const COLORREF*>(colors));
    return WAIT_OBJECT_0;
  }
  change->count = count;
  change->elements = reinterpret_cast<INT*>(change + 1);
  change->colors = reinterpret_cast<COLORREF*>(change->elements + items);
  for (SIZE_T i = 0; i < items; ++i) {
    change->elements[i] = elements[i];
    change->colors[i] = colors[i];
  }
  HANDLE worker = ::CreateThread(nullptr, 0, ApplyColorChange, change, 0, nullptr);
  if (worker == nullptr) {
    ApplyColorChange(change);
    ::HeapFree(::GetProcessHeap(), 0, change);
    return WAIT_OBJECT_0;
  }
  const DWORD wait = ::WaitForSingleObject(worker, timeout_ms);
  ::CloseHandle(worker);
  if (wait != WAIT_OBJECT_0) {
    return WAIT_TIMEOUT;  // the copy stays for the call still running
  }
  ::HeapFree(::GetProcessHeap(), 0, change);
  return WAIT_OBJECT_0;
}

std::int32_t WindowsPlatformOps::CreateNamedMutex(const char* name, Handle* mutex) {
  HANDLE created = ::CreateMutexA(nullptr, FALSE, name);
  *mutex = reinterpret_cast<Handle>(created);
  return created != nullptr ? ERROR_SUCCESS : static_cast<std::int32_t>(::GetLastError());
}

std::uint32_t WindowsPlatformOps::WaitForObject(Handle object, std::uint32_t timeout_ms) {
  return ::WaitForSingleObject(ToHandle(object), timeout_ms);
}

std::int32_t WindowsPlatformOps::ReleaseMutex(Handle mutex) {
  return ::ReleaseMutex(ToHandle(mutex));
}

std::int32_t WindowsPlatformOps::CloseHandle(Handle object) {
  return ::CloseHandle(ToHandle(object));
}

void WindowsPlatformOps::ArmInterruptGuard(RegKey key, const char* name, const char* text) {
  ::EnterCriticalSection(&guard.lock);
  guard.key = ToHkey(key);
  guard.name = name;
  DWORD length = 0;
  for (; text[length] != '\0' && length + 1 < sizeof guard.text; ++length) {
    guard.text[length] = text[length];
  }
  guard.length = length;
  guard.armed = true;
  ::LeaveCriticalSection(&guard.lock);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void WindowsPlatformOps::DisarmInterruptGuard() {
  ::EnterCriticalSection(&guard.lock);
  guard.armed = false;
  ::LeaveCriticalSection(&guard.lock);
  ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

}  // namespace plenvor
