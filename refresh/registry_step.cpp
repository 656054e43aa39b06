#include "refresh/registry_step.h"

#include "app/emit_text.h"
#include "refresh/win32_codes.h"

namespace plenvor {

bool IsKeyMissing(std::int32_t open_status) {
  return open_status == win::ERROR_FILE_NOT_FOUND || open_status == win::ERROR_BADDB ||
         open_status == win::ERROR_BADKEY;
}

StepOutcome OpenFailure(std::int32_t open_status) {
  return open_status == win::ERROR_ACCESS_DENIED ? StepOutcome::kKeyRefused
                                                 : StepOutcome::kKeyNotOpened;
}

std::int32_t OpenStepKey(PlatformOps& ops, RegKey root, const char* path, std::uint32_t access,
                         RegKey& key) {
  const std::int32_t status = ops.OpenKey(root, path, 0, access, &key);
  if (IsKeyMissing(status)) {
    EmitText(KeyMissingMessage);
  }
  return status;
}

const char* TerminateText(ValueBuffer& buffer, std::uint32_t count) {
  // A platform that reports more than we offered must not make us write past
  // the buffer.
  const std::uint32_t end = count < ValueBuffer::kMaxData ? count : ValueBuffer::kMaxData;
  buffer.data[end] = 0;
  return reinterpret_cast<const char*>(buffer.data.data());
}

}  // namespace plenvor
