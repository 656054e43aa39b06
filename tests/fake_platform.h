#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform_ops.h"

namespace plenvor {

// A PlatformOps that keeps an in-memory registry and logs every call, in
// order, as one readable line. Tests fill `registry`, inject faults through
// the switches below, and assert on `log`. Breaches of the platform's rules
// by the program land in `violations`, which must stay empty.
class FakePlatform : public PlatformOps {
 public:
  struct Value {
    std::uint32_t type = 1;
    std::vector<std::uint8_t> data;
  };
  using KeyPath = std::pair<RegKey, std::string>;  // root, subkey
  using Values = std::map<std::string, Value>;

  // A failing status fails the read, leaving `count` in *count (untouched
  // when empty). Status 0 reads normally, then reports `count` instead.
  struct QueryFault {
    std::int32_t status = 0;
    std::optional<std::uint32_t> count;
    int times = 1 << 30;  // how many reads it applies to
  };

  FakePlatform();
  ~FakePlatform() override;
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;
  FakePlatform(FakePlatform&&) = delete;
  FakePlatform& operator=(FakePlatform&&) = delete;

  // A REG_SZ value holding text without a NUL, under root\subkey.
  void PutText(RegKey root, const std::string& subkey, const std::string& name,
               const std::string& text);
  // The stored data of a value as text, or nullopt when absent.
  std::optional<std::string> StoredText(RegKey root, const std::string& subkey,
                                        const std::string& name) const;

  std::int32_t OpenKey(RegKey root, const char* subkey, std::uint32_t options, std::uint32_t access,
                       RegKey* key) override;
  std::int32_t QueryValue(RegKey key, const char* name, std::uint32_t* type, std::uint8_t* data,
                          std::uint32_t* count) override;
  std::int32_t SetValue(RegKey key, const char* name, std::uint32_t type, const std::uint8_t* data,
                        std::uint32_t count) override;
  std::int32_t CloseKey(RegKey key) override;
  std::uint32_t BroadcastMessage(std::uint32_t message, std::uint32_t wparam, std::int32_t lparam,
                                 std::uint32_t flags, std::uint32_t timeout_ms,
                                 std::uint32_t bound_ms) override;
  std::uint32_t ApplySystemParameter(std::uint32_t action, std::uint32_t param, void* data,
                                     std::uint32_t flags, std::uint32_t bound_ms) override;
  std::uint32_t SetSysColors(std::int32_t count, const std::int32_t* elements,
                             const std::uint32_t* colors, std::uint32_t bound_ms) override;
  std::int32_t CreateNamedMutex(const char* name, Handle* mutex) override;
  std::uint32_t WaitForObject(Handle object, std::uint32_t timeout_ms) override;
  std::int32_t ReleaseMutex(Handle mutex) override;
  std::int32_t CloseHandle(Handle object) override;
  void ArmInterruptGuard(RegKey key, const char* name, const char* text) override;
  void DisarmInterruptGuard() override;

  std::map<KeyPath, Values> registry;
  std::vector<std::string> log;
  std::vector<std::string> violations;

  // Faults, one switch each.
  std::map<std::string, std::int32_t> open_status;  // subkey -> status instead of opening
  std::map<std::string, QueryFault> query_faults;   // value name -> injected read result
  std::int32_t set_status = 0;                      // result of every store
  std::deque<std::int32_t> set_results;             // results of the next stores, in turn
  std::set<int> broadcasts_never_return;            // by number, from 0: sent, then never return
  std::set<std::uint32_t> spi_never_return;         // by action: made, then never return
  bool colors_never_return = false;                 // SetSysColors sets them, then hangs
  std::int32_t mutex_status = 0;                    // result of creating the mutex
  std::uint32_t wait_result = 0;                    // result of waiting for it

  // The buffer every read must fill, when a test names it.
  const std::uint8_t* expected_buffer = nullptr;
  // The texts stored as "Shell Icon Size", in order.
  std::vector<std::string> icon_stores;
  // What each broadcast saw stored in "Shell Icon Size" of the open key it
  // belongs to (nullopt when absent or no key is open).
  std::vector<std::optional<std::string>> icon_size_at_broadcast;
  // What a console event during each broadcast would have stored.
  std::vector<std::optional<std::string>> guard_at_broadcast;
  // The system colours the run applied, by element.
  std::map<std::int32_t, std::uint32_t> system_colors;
  std::set<RegKey> open_keys;
  std::set<Handle> open_handles;
  // What a console event would store now, when the guard is armed.
  std::optional<std::string> guard_text;

 private:
  static void RecordText(const char* text, void* context);

  std::map<RegKey, KeyPath> handles_;
  RegKey next_handle_ = 0x100;
  std::set<Handle> held_;
};

}  // namespace plenvor
