#pragma once

#include <cstdint>

namespace plenvor {

// A registry key handle as the platform hands it out; predefined roots such as
// HKEY_USERS (0x80000003) are plain values of this type.
using RegKey = std::uintptr_t;

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

  // SendMessageTimeoutA to HWND_BROADCAST: synchronous for every top-level
  // window that answers; a window that does not answer within timeout_ms (or
  // is hung, with SMTO_ABORTIFHUNG in flags) is skipped. Returns non-zero on
  // success.
  virtual std::int32_t BroadcastMessage(std::uint32_t message, std::uint32_t wparam,
                                        std::int32_t lparam, std::uint32_t flags,
                                        std::uint32_t timeout_ms) = 0;

  // SystemParametersInfoA. Returns non-zero on success.
  virtual std::int32_t ApplySystemParameter(std::uint32_t action, std::uint32_t param, void* data,
                                            std::uint32_t flags) = 0;

  // SetSysColors: elements[i] takes colors[i], all in one change. Returns
  // non-zero on success.
  virtual std::int32_t SetSysColors(std::int32_t count, const std::int32_t* elements,
                                    const std::uint32_t* colors) = 0;
};

}  // namespace plenvor
