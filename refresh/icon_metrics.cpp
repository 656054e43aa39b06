#include "refresh/icon_metrics.h"

#include <cstring>

#include "refresh/text_number.h"
#include "refresh/win32_codes.h"

namespace plenvor {
namespace {

constexpr const char* kFallbackSize = "32";
constexpr const char* kTemporarySize = "0";
constexpr std::int32_t kMinSize = 14;
constexpr std::int32_t kMaxSize = 100;
// Long enough for any desktop that answers; a hung one must not hold the run.
constexpr std::uint32_t kBroadcastTimeoutMs = 5000;

void BroadcastIconMetricsChange(PlatformOps& ops) {
  ops.BroadcastMessage(win::WM_SETTINGCHANGE, win::SPI_SETICONMETRICS, 0, win::SMTO_ABORTIFHUNG,
                       kBroadcastTimeoutMs);
}

void StoreSizeText(PlatformOps& ops, RegKey key, const char* text) {
  // Stored without a terminating NUL.
  ops.SetValue(key, kShellIconSizeName, win::REG_SZ, reinterpret_cast<const std::uint8_t*>(text),
               static_cast<std::uint32_t>(std::strlen(text)));
}

// The size text to store back: the stored one when it reads as a size in
// range, exactly as it was written, otherwise the fallback.
const char* ValidatedSizeText(PlatformOps& ops, RegKey key, ValueBuffer& buffer) {
  buffer.capacity = ValueBuffer::kMaxData;
  std::uint32_t type = 0;
  const std::int32_t status =
      ops.QueryValue(key, kShellIconSizeName, &type, buffer.data.data(), &buffer.capacity);
  if (status != win::ERROR_SUCCESS || type != win::REG_SZ || buffer.capacity == 0) {
    return kFallbackSize;
  }
  const char* text = TerminateText(buffer, buffer.capacity);
  const std::int32_t size = ConvertSizeText(text);
  return size >= kMinSize && size <= kMaxSize ? text : kFallbackSize;
}

}  // namespace

std::int32_t ConvertSizeText(const char* text) {
  const bool negative = SkipSpaceAndSign(text);
  std::uint32_t value = 0;
  AccumulateDigits(text, 10, value);
  return WrapToInt32(negative ? 0U - value : value);
}

StepOutcome RefreshIconMetrics(PlatformOps& ops, ValueBuffer& buffer) {
  RegKey key = 0;
  const std::int32_t status =
      OpenStepKey(ops, win::HKEY_USERS, kWindowMetricsPath, win::KEY_ALL_ACCESS, key);
  if (status != win::ERROR_SUCCESS) {
    if (!IsKeyMissing(status)) {
      // Refused, not missing: the desktop is still told to re-read its icon metrics.
      BroadcastIconMetricsChange(ops);
      BroadcastIconMetricsChange(ops);
    }
    return StepOutcome::kKeyNotOpened;
  }
  const char* size_text = ValidatedSizeText(ops, key, buffer);
  StoreSizeText(ops, key, kTemporarySize);
  BroadcastIconMetricsChange(ops);
  StoreSizeText(ops, key, size_text);
  BroadcastIconMetricsChange(ops);
  ops.CloseKey(key);
  return StepOutcome::kCompleted;
}

}  // namespace plenvor
