#pragma once

#include <cstdint>

namespace plenvor {

// A registry key handle as the platform hands it out; predefined roots such as
// HKEY_USERS (0x80000003) are plain values of this type.
using RegKey = std::uintptr_t;

// Any other kernel object handle (a mutex).
using Handle = std::uintptr_t;

// The most bytes of a registry value's data the program reads or stores; a
// text of that many bytes takes one more for its NUL.
inline constexpr std::uint32_t kMaxValueBytes = 80;

// The display elements the colour step sets, COLOR_SCROLLBAR (0) to
// COLOR_INFOBK (24): the most a colour change carries.
inline constexpr std::int32_t kSystemColorCount = 25;

// How a call bounded in time came back: it returned within its bound (its
// own result is not reported), or it is still running on its worker thread
// and ends with the process.
enum class Bounded { kReturned, kStillRunning };

// Every registry, window-message, system-parameter and system-colour call the
// refresh steps make. It is abstract so that the tests can drive the steps
// through a recording fake instead of a live Windows desktop.
class PlatformOps {
 public:
  PlatformOps() = default;
  PlatformOps(const PlatformOps&) = delete;
  PlatformOps& operator=(const PlatformOps&) = delete;
  PlatformOps(PlatformOps&&) = delete;
  PlatformOps& operator=(PlatformOps&&) = delete;
  virtual ~PlatformOps() = default;

  // RegOpenKeyExA. Returns a Win32 status; on 0, *key holds an open key that
  // the caller must close. On failure *key is not to be used.
  virtual std::int32_t OpenKey(RegKey root, const char* subkey, std::uint32_t options,
                               std::uint32_t access, RegKey* key) = 0;

  // RegQueryValueExA with a null reserved argument. *count is the room offered
  // in data. On 0: *type, the data and *count (bytes copied) are set. On
  // ERROR_MORE_DATA (234): *count holds the bytes needed. On any other failure
  // *count is left as it was.
  virtual std::int32_t QueryValue(RegKey key, const char* name, std::uint32_t* type,
                                  std::uint8_t* data, std::uint32_t* count) = 0;

  // RegSetValueExA with reserved 0: the bytes become the value's data, which is
  // created if absent. Returns a Win32 status.
  virtual std::int32_t SetValue(RegKey key, const char* name, std::uint32_t type,
                                const std::uint8_t* data, std::uint32_t count) = 0;

  // RegCloseKey. Returns a Win32 status.
  virtual std::int32_t CloseKey(RegKey key) = 0;

  // The calls below wait on other programs' windows, any of which may be slow
  // or stopped. Each runs on a worker thread and is waited for at most
  // bound_ms as a whole.

  // SendMessageTimeoutA to HWND_BROADCAST: synchronous for every top-level
  // window that answers; a window that does not answer within timeout_ms (or
  // is hung, with SMTO_ABORTIFHUNG in flags) is skipped, and each window may
  // use its full timeout_ms, one after another.
  virtual Bounded BroadcastMessage(std::uint32_t message, std::uint32_t wparam, std::int32_t lparam,
                                   std::uint32_t flags, std::uint32_t timeout_ms,
                                   std::uint32_t bound_ms) = 0;

  // SystemParametersInfoA. `data` must stay valid until the process ends,
  // since the call may outlive the wait.
  virtual Bounded ApplySystemParameter(std::uint32_t action, std::uint32_t param, void* data,
                                       std::uint32_t flags, std::uint32_t bound_ms) = 0;

  // SetSysColors: elements[i] takes colors[i], all in one change. It
  // repaints every visible window, and one that has stopped answering can
  // hold it for good. The lists are copied; count is 1 to kSystemColorCount.
  virtual Bounded SetSysColors(std::int32_t count, const std::int32_t* elements,
                               const std::uint32_t* colors, std::uint32_t bound_ms) = 0;

  // CreateMutexA, not owned, under a name that may start with "Global\". A
  // mutex it creates gives SYSTEM and the Administrators group full access and
  // no one else anything. Returns a Win32 status (an existing mutex of that
  // name is success); on 0, *mutex is a handle the caller must close.
  virtual std::int32_t CreateNamedMutex(const char* name, Handle* mutex) = 0;

  // WaitForSingleObject. Returns WAIT_OBJECT_0 (0) or WAIT_ABANDONED (0x80,
  // the last holder died) when the caller now holds the mutex, WAIT_TIMEOUT
  // (0x102), or WAIT_FAILED (0xFFFFFFFF).
  virtual std::uint32_t WaitForObject(Handle object, std::uint32_t timeout_ms) = 0;

  // ReleaseMutex of a mutex the caller holds. Returns non-zero on success.
  virtual std::int32_t ReleaseMutex(Handle mutex) = 0;

  // CloseHandle. Returns non-zero on success.
  virtual std::int32_t CloseHandle(Handle object) = 0;

  // Until disarmed, a console control event (Ctrl-C, Ctrl-Break, the console
  // closing) or the end of the session (logoff, shutdown) stores text as
  // REG_SZ value `name` of `key` (its length in bytes, no NUL) and ends the
  // process with STATUS_CONTROL_C_EXIT. That store waits for any SetValue in
  // progress and is the last one: no SetValue made after it takes effect. The
  // text, at most kMaxValueBytes long, is copied. Disarmed or never armed,
  // such an event ends the process the same way, without the store.
  virtual void ArmInterruptGuard(RegKey key, const char* name, const char* text) = 0;

  // Ends what ArmInterruptGuard began: an event no longer stores the text.
  virtual void DisarmInterruptGuard() = 0;
};

}  // namespace plenvor
