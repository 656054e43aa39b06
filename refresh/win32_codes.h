#pragma once

#include <cstdint>

#include "platform/platform_ops.h"

// The Windows constants the refresh steps pass and test, under the platform's
// own names. Kept apart from <windows.h> so the steps build anywhere.
namespace plenvor::win {

// NOLINTBEGIN(readability-identifier-naming)
constexpr std::int32_t ERROR_SUCCESS = 0;
constexpr std::int32_t ERROR_FILE_NOT_FOUND = 2;
constexpr std::int32_t ERROR_PATH_NOT_FOUND = 3;
constexpr std::int32_t ERROR_ACCESS_DENIED = 5;
constexpr std::int32_t ERROR_BAD_PATHNAME = 161;
constexpr std::int32_t ERROR_BADDB = 1009;
constexpr std::int32_t ERROR_BADKEY = 1010;

constexpr RegKey HKEY_CURRENT_USER = 0x80000001U;
constexpr RegKey HKEY_USERS = 0x80000003U;
constexpr std::uint32_t KEY_READ = 0x20019U;
constexpr std::uint32_t KEY_ALL_ACCESS = 0xF003FU;
constexpr std::uint32_t REG_SZ = 1;

constexpr std::uint32_t WAIT_OBJECT_0 = 0;
constexpr std::uint32_t WAIT_ABANDONED = 0x80;

constexpr std::uint32_t WM_SETTINGCHANGE = 0x001A;
constexpr std::uint32_t SMTO_ABORTIFHUNG = 0x0002;
constexpr std::uint32_t SPI_SETICONMETRICS = 0x2E;
constexpr std::uint32_t SPI_SETCURSORS = 0x57;
constexpr std::uint32_t SPI_SETDESKWALLPAPER = 0x14;
constexpr std::uint32_t SPIF_SENDWININICHANGE = 0x02;
// NOLINTEND(readability-identifier-naming)

}  // namespace plenvor::win
