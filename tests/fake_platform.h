#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "platform/platform_ops.h"

namespace plenvor {

// Win32 values as Microsoft documents them: what the fake returns and the
// tests inject, never the program's own copies of them.
namespace ms {
// clang-format off
// NOLINTBEGIN(readability-identifier-naming,readability-isolate-declaration)
constexpr std::int32_t ERROR_FILE_NOT_FOUND = 2, ERROR_BADDB = 1009, ERROR_BADKEY = 1010;
constexpr std::int32_t ERROR_MORE_DATA = 234;
constexpr std::int32_t ERROR_PATH_NOT_FOUND = 3, ERROR_ACCESS_DENIED = 5, ERROR_INVALID_HANDLE = 6,
                       ERROR_NOT_ENOUGH_MEMORY = 8, ERROR_BAD_PATHNAME = 161;
constexpr RegKey HKEY_CURRENT_USER = 0x80000001U, HKEY_USERS = 0x80000003U;
constexpr std::uint32_t KEY_READ = 0x20019U, KEY_ALL_ACCESS = 0xF003FU, REG_SZ = 1;
constexpr std::uint32_t WAIT_OBJECT_0 = 0, WAIT_ABANDONED = 0x80, WAIT_TIMEOUT = 0x102,
                        WAIT_FAILED = 0xFFFFFFFFU;
constexpr std::uint32_t WM_SETTINGCHANGE = 0x1A, SMTO_ABORTIFHUNG = 2, SPI_SETICONMETRICS = 0x2E,
                        SPI_SETCURSORS = 0x57, SPI_SETDESKWALLPAPER = 0x14,
                        SPIF_SENDWININICHANGE = 2;
// NOLINTEND(readability-identifier-naming,readability-isolate-declaration)
// clang-format on
}  // namespace ms

// What the fake records of each call: the arguments the program chose and what
// the fake answered, field by field in the order PlatformOps takes them.
// Pointers are left out; data is recorded as the bytes given.
namespace call {

using Status = std::int32_t;  // a Win32 status
using Milliseconds = std::uint32_t;

// clang-format off
// NOLINTBEGIN(readability-isolate-declaration)
struct Emit { std::string text; };
struct OpenKey { RegKey root; std::string subkey; std::uint32_t options, access; Status result; };
// room: the count offered; count: the count left.
struct QueryValue { std::string name; std::uint32_t room; Status result; std::uint32_t count; };
// data: the bytes given; their size is the count passed.
struct SetValue { std::string name; std::uint32_t type; std::string data; };
struct CloseKey { std::string subkey; };
struct Broadcast { std::uint32_t message, wparam; std::int32_t lparam; std::uint32_t flags;
                   Milliseconds timeout_ms, bound_ms; };
// data: whether a data pointer was passed.
struct SystemParameter { std::uint32_t action, param; bool data; std::uint32_t flags;
                         Milliseconds bound_ms; };
struct SetSysColors { std::vector<std::int32_t> elements; Milliseconds bound_ms; };
struct CreateNamedMutex { std::string name; Status result; };
struct WaitForObject { Milliseconds timeout_ms; std::uint32_t result; };
// name: the mutex's, as it was created.
struct ReleaseMutex { std::string name; };
struct CloseHandle { std::string name; };
struct ArmInterruptGuard { std::string name, text; };
struct DisarmInterruptGuard {};

// Each record's fields, for comparing and printing.
inline auto Fields(const Emit& c) { return std::tie(c.text); }
inline auto Fields(const OpenKey& c) { return std::tie(c.root, c.subkey, c.options, c.access, c.result); }
inline auto Fields(const QueryValue& c) { return std::tie(c.name, c.room, c.result, c.count); }
inline auto Fields(const SetValue& c) { return std::tie(c.name, c.type, c.data); }
inline auto Fields(const CloseKey& c) { return std::tie(c.subkey); }
inline auto Fields(const Broadcast& c) {
  return std::tie(c.message, c.wparam, c.lparam, c.flags, c.timeout_ms, c.bound_ms); }
inline auto Fields(const SystemParameter& c) {
  return std::tie(c.action, c.param, c.data, c.flags, c.bound_ms); }
inline auto Fields(const SetSysColors& c) { return std::tie(c.elements, c.bound_ms); }
inline auto Fields(const CreateNamedMutex& c) { return std::tie(c.name, c.result); }
inline auto Fields(const WaitForObject& c) { return std::tie(c.timeout_ms, c.result); }
inline auto Fields(const ReleaseMutex& c) { return std::tie(c.name); }
inline auto Fields(const CloseHandle& c) { return std::tie(c.name); }
inline auto Fields(const ArmInterruptGuard& c) { return std::tie(c.name, c.text); }
inline auto Fields(const DisarmInterruptGuard& /*c*/) { return std::tie(); }
// NOLINTEND(readability-isolate-declaration)
// clang-format on

template <typename T>
auto operator==(const T& a, const T& b) -> decltype(Fields(a) == Fields(b)) {
  return Fields(a) == Fields(b);
}

}  // namespace call

// One recorded call; prints as, say, SetValue("Shell Icon Size", 1, "48").
struct Call {
  using Any =
      std::variant<call::Emit, call::OpenKey, call::QueryValue, call::SetValue, call::CloseKey,
                   call::Broadcast, call::SystemParameter, call::SetSysColors,
                   call::CreateNamedMutex, call::WaitForObject, call::ReleaseMutex,
                   call::CloseHandle, call::ArmInterruptGuard, call::DisarmInterruptGuard>;
  template <typename T, typename = std::enable_if_t<std::is_constructible_v<Any, T>>>
  Call(T recorded) : what(std::move(recorded)) {}  // NOLINT(google-explicit-constructor)
  bool operator==(const Call& other) const { return what == other.what; }
  template <typename T>
  const T* As() const {
    return std::get_if<T>(&what);
  }
  Any what;
};

// A PlatformOps that keeps an in-memory registry and records every call, in
// order. Tests fill `registry`, inject faults through the switches below, and
// compare `calls`. Breaches of the platform's rules by the program land in
// `violations`, which must stay empty.
class FakePlatform : public PlatformOps {
 public:
  struct Value {
    std::uint32_t type = ms::REG_SZ;
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

  // A value of `type` holding bytes as given (no NUL added), under root\subkey.
  void Put(RegKey root, const std::string& subkey, const std::string& name,
           const std::string& bytes, std::uint32_t type = ms::REG_SZ);
  // The stored data of a value, or nullopt when absent.
  std::optional<std::string> Stored(RegKey root, const std::string& subkey,
                                    const std::string& name) const;
  // The recorded calls of one kind, in order.
  template <typename T>
  std::vector<T> CallsOf() const {
    std::vector<T> found;
    for (const Call& recorded : calls) {
      if (const T* one = recorded.As<T>()) {
        found.push_back(*one);
      }
    }
    return found;
  }
  // The recorded calls of the given kinds, in order.
  template <typename... T>
  std::vector<Call> Only() const {
    std::vector<Call> found;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(found),
                 [](const Call& recorded) { return ((recorded.As<T>() != nullptr) || ...); });
    return found;
  }
  // The data of every store into value `name`, in order.
  std::vector<std::string> StoresInto(const std::string& name) const;

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
  std::vector<Call> calls;
  std::vector<std::string> violations;

  // Faults, one switch each.
  std::map<std::string, std::int32_t> open_status;  // subkey -> status instead of opening
  std::map<std::string, QueryFault> query_faults;   // value name -> injected read result
  std::int32_t set_status = 0;                      // result of every store
  std::deque<std::int32_t> set_results;             // results of the next stores, in turn
  std::set<int> cut_short_broadcasts;               // by number, from 0: sent, then cut short
  std::set<std::uint32_t> cut_short_requests;       // system parameters, by action
  bool colors_cut_short = false;                    // SetSysColors sets them, then is cut short
  std::int32_t mutex_status = 0;                    // result of creating the mutex
  std::uint32_t wait_result = 0;                    // result of waiting for it

  // The buffer every read must fill, when a test names it.
  const std::uint8_t* expected_buffer = nullptr;
  // The value whose stored text each broadcast records in watched_at_broadcast
  // (nullopt when absent or no key is open).
  std::string watched_value;
  std::vector<std::optional<std::string>> watched_at_broadcast;
  // What an interrupt during each broadcast would have stored.
  std::vector<std::optional<std::string>> guard_at_broadcast;
  // The system colours the run applied, by element.
  std::map<std::int32_t, std::uint32_t> system_colors;
  std::set<RegKey> open_keys;
  std::set<Handle> open_handles;
  // What an interrupt would store now, when the guard is armed.
  std::optional<std::string> guard_text;

 private:
  static void RecordText(const char* text, void* context);

  std::map<RegKey, KeyPath> handles_;
  RegKey next_handle_ = 0x100;
  std::map<Handle, std::string> mutexes_;  // by handle, the name it was created with
  std::set<Handle> held_;
};

}  // namespace plenvor
