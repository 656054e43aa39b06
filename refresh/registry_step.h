#pragma once

#include <array>
#include <cstdint>

#include "platform/platform_ops.h"

namespace plenvor {

// The text of one registry value: up to kMaxData bytes of data plus room for a
// terminating NUL. `capacity` is both the room a read offers and what the read
// leaves behind (bytes stored, or bytes needed when the room was too small).
struct ValueBuffer {
  // The platform's limit, so that the interrupt guard holds any text read here.
  static constexpr std::uint32_t kMaxData = kMaxValueBytes;
  std::uint32_t capacity = 0;
  // Last, so that a sanitizer sees a write past the text (beyond the struct's
  // three bytes of tail padding) as leaving the object.
  std::array<std::uint8_t, kMaxData + 1> data{};
};

// How a step ended, and so the run's exit status: each value is the status it
// stands for. A run ends with the lowest non-zero one of its steps: so
// kKeyRefused, expected of every run without an administrator's token, shows
// only when nothing else went wrong. An interrupted run ends with
// STATUS_CONTROL_C_EXIT instead, from the platform.
enum class StepOutcome {
  kCompleted = 0,
  kKeyNotOpened = 1,   // missing, or not opened for another reason than a refusal
  kSizeNotStored = 2,  // the icon size was left alone, or a store of it failed
  kCutShort = 3,       // a broadcast, a system-parameter request or the colour
                       // change was cut short: a window did not confirm it in time
  kKeyRefused = 4,     // the key is there, but access to it was refused
};

// The outcome of a step whose key could not be opened: kKeyRefused for
// ERROR_ACCESS_DENIED, else kKeyNotOpened.
StepOutcome OpenFailure(std::int32_t open_status);

// True for the open results that mean the key is not there.
bool IsKeyMissing(std::int32_t open_status);

// Written by a step whose key is missing.
inline constexpr const char* KeyMissingMessage = " Key doesn't exist \n";

// Opens root\path for a step; a missing key is reported on standard output
// with KeyMissingMessage. Returns the open status; on 0 the step owns `key`.
std::int32_t OpenStepKey(PlatformOps& ops, RegKey root, const char* path, std::uint32_t access,
                         RegKey& key);

// The registry text in `buffer` after a read that returned `count` bytes: a NUL
// is placed after them (a count beyond the buffer is cut to it).
const char* TerminateText(ValueBuffer& buffer, std::uint32_t count);

}  // namespace plenvor
