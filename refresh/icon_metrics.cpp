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

// Stored without a terminating NUL. True when the store succeeded.
bool StoreSizeText(PlatformOps& ops, RegKey key, const char* text) {
  return ops.SetValue(key, kShellIconSizeName, win::REG_SZ,
                      reinterpret_cast<const std::uint8_t*>(text),
                      static_cast<std::uint32_t>(std::strlen(text))) == win::ERROR_SUCCESS;
}

// The value is shared by every session on the machine, and for a moment it
// holds "0": a second run reading it then would store "32" over the real
// size. Runs therefore take turns, machine-wide.
constexpr const char* kIconSizeLockName = "Global\\Plenvor.ShellIconSize";
// Bounded, so that a run that hangs or a hostile holder delays a logon by
// this much at most.
constexpr std::uint32_t kIconSizeLockWaitMs = 30000;

struct IconSizeLock {
  Handle mutex = 0;  // 0 when none could be created: the step runs unserialised
  bool held = false;
  bool timed_out = false;
};

IconSizeLock TakeIconSizeLock(PlatformOps& ops) {
  IconSizeLock lock;
  if (ops.CreateNamedMutex(kIconSizeLockName, &lock.mutex) != win::ERROR_SUCCESS) {
    lock.mutex = 0;
    return lock;
  }
  const std::uint32_t wait = ops.WaitForObject(lock.mutex, kIconSizeLockWaitMs);
  // An abandoned mutex is ours now; its holder died, perhaps with "0" stored,
  // which this run then stores over like any out-of-range size.
  lock.held = wait == win::WAIT_OBJECT_0 || wait == win::WAIT_ABANDONED;
  lock.timed_out = wait == win::WAIT_TIMEOUT;
  return lock;
}

void ReleaseIconSizeLock(PlatformOps& ops, const IconSizeLock& lock) {
  if (lock.held) {
    ops.ReleaseMutex(lock.mutex);
  }
  if (lock.mutex != 0) {
    ops.CloseHandle(lock.mutex);
  }
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
  const IconSizeLock lock = TakeIconSizeLock(ops);
  bool stored = false;
  if (lock.timed_out) {
    // Another run still holds the value, maybe as "0": leave it to that run.
    BroadcastIconMetricsChange(ops);
    BroadcastIconMetricsChange(ops);
  } else {
    const char* size_text = ValidatedSizeText(ops, key, buffer);
    // An interrupted run must not leave "0" behind: until the size is back,
    // a console event stores it before the process ends.
    ops.ArmInterruptGuard(key, kShellIconSizeName, size_text);
    const bool zero_stored = StoreSizeText(ops, key, kTemporarySize);
    BroadcastIconMetricsChange(ops);
    stored = StoreSizeText(ops, key, size_text) && zero_stored;
    ops.DisarmInterruptGuard();
    BroadcastIconMetricsChange(ops);
  }
  ops.CloseKey(key);
  ReleaseIconSizeLock(ops, lock);
  return stored ? StepOutcome::kCompleted : StepOutcome::kSizeNotStored;
}

}  // namespace plenvor
