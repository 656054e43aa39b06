#pragma once

#include "platform/platform_ops.h"

namespace plenvor {

// PlatformOps on the real Windows API (built into the Windows program only).
class WindowsPlatformOps final : public PlatformOps {
 public:
  WindowsPlatformOps();
  std::int32_t OpenKey(RegKey root, const char* subkey, std::uint32_t options, std::uint32_t access,
                       RegKey* key) override;
  std::int32_t QueryValue(RegKey key, const char* name, std::uint32_t* type, std::uint8_t* data,
                          std::uint32_t* count) override;
  std::int32_t SetValue(RegKey key, const char* name, std::uint32_t type, const std::uint8_t* data,
                        std::uint32_t count) override;
  std::int32_t CloseKey(RegKey key) override;
  Bounded BroadcastMessage(std::uint32_t message, std::uint32_t wparam, std::int32_t lparam,
                           std::uint32_t flags, std::uint32_t timeout_ms,
                           std::uint32_t bound_ms) override;
  Bounded ApplySystemParameter(std::uint32_t action, std::uint32_t param, void* data,
                               std::uint32_t flags, std::uint32_t bound_ms) override;
  Bounded SetSysColors(std::int32_t count, const std::int32_t* elements,
                       const std::uint32_t* colors, std::uint32_t bound_ms) override;
  std::int32_t CreateNamedMutex(const char* name, Handle* mutex) override;
  std::uint32_t WaitForObject(Handle object, std::uint32_t timeout_ms) override;
  std::int32_t ReleaseMutex(Handle mutex) override;
  std::int32_t CloseHandle(Handle object) override;
  void ArmInterruptGuard(RegKey key, const char* name, const char* text) override;
  void DisarmInterruptGuard() override;

  // Ends the run with status. A call cut short may still be inside user32 on
  // its worker thread, where ExitProcess's DLL detach would find it stopped
  // wherever it stood: then standard output is flushed and the process ends
  // through TerminateProcess. Returns, for main to return status, only when
  // every call returned.
  void EndRun(int status) const;

 private:
  // Notes a call still running on its worker, for good: one that returns in
  // time later does not bring it back. The result passes through.
  Bounded Note(Bounded call);
  bool call_left_running_ = false;
};

}  // namespace plenvor
