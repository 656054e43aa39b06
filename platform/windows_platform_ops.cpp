#include "platform/windows_platform_ops.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace plenvor {
namespace {

// Predefined roots such as HKEY_USERS are integers cast to a handle.
// NOLINTNEXTLINE(performance-no-int-to-ptr)
HKEY ToHkey(RegKey key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

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
  return ::RegSetValueExA(ToHkey(key), name, 0, type, data, count);
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

std::int32_t WindowsPlatformOps::SetSysColors(std::int32_t count, const std::int32_t* elements,
                                              const std::uint32_t* colors) {
  // INT and COLORREF (DWORD) have the same layout as the fixed-width types.
  return ::SetSysColors(count, reinterpret_cast<const INT*>(elements),
                        reinterpret_cast<const COLORREF*>(colors));
}

}  // namespace plenvor
