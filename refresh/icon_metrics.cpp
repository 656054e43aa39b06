#include "refresh/icon_metrics.h"

#include <cstring>

#include "platform/bounds.h"
#include "refresh/text_number.h"
#include "refresh/win32_codes.h"

namespace plenvor {
namespace {

constexpr const char* kFallbackSize = "32";
constexpr const char* kTemporarySize = "0";
constexpr std::int32_t kMinSize = 14;
constexpr std::int32_t kMaxSize = 100;

// True when the broadcast returned within its bound. Each window gets long
// enough for any that answers; a hung one is skipped.
bool BroadcastIconMetricsChange(PlatformOps& ops) {
  return ops.BroadcastMessage(win::WM_SETTINGCHANGE, win::SPI_SETICONMETRICS, 0,
                              win::SMTO_ABORTIFHUNG, bounds::kBroadcastWindowMs,
                              bounds::kBroadcastMs) == Bounded::kReturned;
}

// Stored without a terminating NUL. True when the store succeeded.
bool StoreSizeText(PlatformOps& ops, RegKey key, const char* text) {
  return ops.SetValue(key, kShellIconSizeName, win::REG_SZ,
                      reinterpret_cast<const std::uint8_t*>(text),
                      static_cast<std::uint32_t>(std::strlen(text))) == win::ERROR_SUCCESS;
}

// The value is shared by every session on the machine, and for a moment it
// holds "0": a second run reading it then would store "32" over the real
// size. Runs therefore take turns, machine-wide, waiting for one another a
// bounded time, so that a run that hangs or a hostile holder delays a logon
// by that much at most.
constexpr const char* kIconSizeLockName = "Global\\Plenvor.ShellIconSize";

enum class LockOutcome {
  kAcquired,  // this run holds the lock, and may touch the size
  // Another run's turn outlasted the wait, another program holds the name,
  // or the wait failed: the size is left alone.
  kDenied,
  kNoGlobalNamespace,  // no lock can exist on this system: the run goes on unserialised
};

struct IconSizeLock {
  Handle mutex = 0;  // 0 when none was created
  LockOutcome outcome = LockOutcome::kDenied;
};

// The failures of creating the lock that mean the system has no global
// namespace (Windows NT 4.0 without Terminal Services, where "Global\" is
// an ordinary path that is not there): ERROR_PATH_NOT_FOUND (3) and
// ERROR_BAD_PATHNAME (161). There, and only there, the step runs
// unserialised. Any other failure, above all ERROR_INVALID_HANDLE (an object
// of another kind holds the name) and ERROR_ACCESS_DENIED (a mutex that
// refuses us does), means that someone holds the name, and so does a wait
// that fails.
bool IsNamespaceMissing(std::int32_t status) {
  return status == win::ERROR_PATH_NOT_FOUND || status == win::ERROR_BAD_PATHNAME;
}

IconSizeLock TakeIconSizeLock(PlatformOps& ops) {
  IconSizeLock lock;
  const std::int32_t created = ops.CreateNamedMutex(kIconSizeLockName, &lock.mutex);
  if (created != win::ERROR_SUCCESS) {
    lock.mutex = 0;
    lock.outcome =
        IsNamespaceMissing(created) ? LockOutcome::kNoGlobalNamespace : LockOutcome::kDenied;
    return lock;
  }
  const std::uint32_t wait = ops.WaitForObject(lock.mutex, bounds::kIconSizeLockWaitMs);
  // An abandoned mutex is ours now; its holder died, perhaps with "0" stored,
  // which this run then stores over like any out-of-range size.
  lock.outcome = wait == win::WAIT_OBJECT_0 || wait == win::WAIT_ABANDONED ? LockOutcome::kAcquired
                                                                           : LockOutcome::kDenied;
  return lock;
}

void ReleaseIconSizeLock(PlatformOps& ops, const IconSizeLock& lock) {
  if (lock.outcome == LockOutcome::kAcquired) {
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
  if (status != win::ERROR_SUCCESS || type != win::REG_SZ) {
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
    if (IsKeyMissing(status)) {
      return StepOutcome::kKeyNotOpened;
    }
    // There, but not opened (refused to a standard token): the desktop is
    // still told to re-read its icon metrics.
    bool in_time = BroadcastIconMetricsChange(ops);
    in_time = BroadcastIconMetricsChange(ops) && in_time;
    // A refusal ranks below a broadcast cut short; any other failure above.
    const StepOutcome failure = OpenFailure(status);
    return in_time || failure == StepOutcome::kKeyNotOpened ? failure : StepOutcome::kCutShort;
  }
  const IconSizeLock lock = TakeIconSizeLock(ops);
  bool stored = false;
  bool in_time = true;
  if (lock.outcome == LockOutcome::kDenied) {
    // Another run still holds the value, maybe as "0": leave it to that run.
    // Or another program holds the name: a denial, never a loss.
    in_time = BroadcastIconMetricsChange(ops);
    in_time = BroadcastIconMetricsChange(ops) && in_time;
  } else {
    const char* size_text = ValidatedSizeText(ops, key, buffer);
    // An interrupted run must not leave "0" behind: until the size is back,
    // an interruption or the end of the session stores it first.
    ops.ArmInterruptGuard(key, kShellIconSizeName, size_text);
    const bool zero_stored = StoreSizeText(ops, key, kTemporarySize);
    // Returned or cut short, the size goes back at once, and a store that
    // fails is tried once more before "0" may be left.
    in_time = BroadcastIconMetricsChange(ops);
    const bool restored = StoreSizeText(ops, key, size_text) || StoreSizeText(ops, key, size_text);
    stored = restored && zero_stored;
    ops.DisarmInterruptGuard();
    in_time = BroadcastIconMetricsChange(ops) && in_time;
  }
  ops.CloseKey(key);
  ReleaseIconSizeLock(ops, lock);
  if (!stored) {
    return StepOutcome::kSizeNotStored;
  }
  return in_time ? StepOutcome::kCompleted : StepOutcome::kCutShort;
}

}  // namespace plenvor
