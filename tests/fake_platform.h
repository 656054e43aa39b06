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

#include "app/emit_text.h"
#include "platform/platform_ops.h"
#include "tests/test_data.h"

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

// Each record's name, for printing: by its type, so that no list must follow
// the variant's order.
inline const char* Name(const Emit& /*c*/) { return "Emit"; }
inline const char* Name(const OpenKey& /*c*/) { return "OpenKey"; }
inline const char* Name(const QueryValue& /*c*/) { return "QueryValue"; }
inline const char* Name(const SetValue& /*c*/) { return "SetValue"; }
inline const char* Name(const CloseKey& /*c*/) { return "CloseKey"; }
inline const char* Name(const Broadcast& /*c*/) { return "Broadcast"; }
inline const char* Name(const SystemParameter& /*c*/) { return "SystemParameter"; }
inline const char* Name(const SetSysColors& /*c*/) { return "SetSysColors"; }
inline const char* Name(const CreateNamedMutex& /*c*/) { return "CreateNamedMutex"; }
inline const char* Name(const WaitForObject& /*c*/) { return "WaitForObject"; }
inline const char* Name(const ReleaseMutex& /*c*/) { return "ReleaseMutex"; }
inline const char* Name(const CloseHandle& /*c*/) { return "CloseHandle"; }
inline const char* Name(const ArmInterruptGuard& /*c*/) { return "ArmInterruptGuard"; }
inline const char* Name(const DisarmInterruptGuard& /*c*/) { return "DisarmInterruptGuard"; }

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

  FakePlatform() { SetTextSink(RecordText, this); }
  ~FakePlatform() override { SetTextSink(nullptr, nullptr); }
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;
  FakePlatform(FakePlatform&&) = delete;
  FakePlatform& operator=(FakePlatform&&) = delete;

  // A value of `type` holding bytes as given (no NUL added), under root\subkey.
  void Put(RegKey root, const std::string& subkey, const std::string& name,
           const std::string& bytes, std::uint32_t type = ms::REG_SZ) {
    registry[{root, subkey}][name] = Value{type, {bytes.begin(), bytes.end()}};
  }
  // The stored data of a value, or nullopt when absent.
  std::optional<std::string> Stored(RegKey root, const std::string& subkey,
                                    const std::string& name) const {
    const auto key = registry.find({root, subkey});
    if (key == registry.end() || key->second.count(name) == 0) {
      return std::nullopt;
    }
    const std::vector<std::uint8_t>& data = key->second.at(name).data;
    return std::string(data.begin(), data.end());
  }
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
  std::vector<std::string> StoresInto(const std::string& name) const {
    std::vector<std::string> stores;
    for (const call::SetValue& store : CallsOf<call::SetValue>()) {
      if (store.name == name) {
        stores.push_back(store.data);
      }
    }
    return stores;
  }

  // PlatformOps: each call is recorded, and answered from `registry` and the
  // fault switches.
  std::int32_t OpenKey(RegKey root, const char* subkey, std::uint32_t options, std::uint32_t access,
                       RegKey* key) override {
    std::int32_t status = 0;
    if (const auto fault = open_status.find(subkey); fault != open_status.end()) {
      status = fault->second;
    } else if (registry.count({root, subkey}) == 0) {
      status = ms::ERROR_FILE_NOT_FOUND;
    } else {
      *key = next_handle_++;
      handles_[*key] = {root, subkey};
      open_keys.insert(*key);
    }
    calls.emplace_back(call::OpenKey{root, subkey, options, access, status});
    return status;
  }

  std::int32_t QueryValue(RegKey key, const char* name, std::uint32_t* type, std::uint8_t* data,
                          std::uint32_t* count) override {
    const std::uint32_t offered = *count;
    std::uint32_t room = offered;
    const std::string what = std::string("QueryValue ") + name;
    if (room > test_data::FactNumber("room")) {
      violations.push_back(what + ": more room offered than the buffer holds");
      room = test_data::FactNumber("room");  // keep the fake itself inside the buffer
    }
    if (expected_buffer != nullptr && data != expected_buffer) {
      violations.push_back(what + ": data is not the run's buffer");
    }
    std::int32_t status = 0;
    auto fault = query_faults.find(name);
    if (open_keys.count(key) == 0) {
      violations.push_back(what + ": key not open");
      status = ms::ERROR_INVALID_HANDLE;
    } else if (fault != query_faults.end() && fault->second.times > 0 &&
               fault->second.status != 0) {
      --fault->second.times;
      status = fault->second.status;
      if (fault->second.count) {
        *count = *fault->second.count;
      }
    } else {
      const Values& values = registry[handles_.at(key)];
      const auto value = values.find(name);
      if (value == values.end()) {
        status = ms::ERROR_FILE_NOT_FOUND;
      } else {
        const auto size = static_cast<std::uint32_t>(value->second.data.size());
        *type = value->second.type;
        if (size > room) {
          status = ms::ERROR_MORE_DATA;
        } else {
          std::copy(value->second.data.begin(), value->second.data.end(), data);
          std::fill(data + size, data + room, kJunk);
        }
        *count = size;
        // A successful read that misreports its count.
        if (fault != query_faults.end() && fault->second.times > 0 && fault->second.count) {
          --fault->second.times;
          *count = *fault->second.count;
        }
      }
    }
    calls.emplace_back(call::QueryValue{name, offered, status, *count});
    return status;
  }

  std::int32_t SetValue(RegKey key, const char* name, std::uint32_t type, const std::uint8_t* data,
                        std::uint32_t count) override {
    calls.emplace_back(
        call::SetValue{name, type, std::string(reinterpret_cast<const char*>(data), count)});
    if (open_keys.count(key) == 0) {
      violations.push_back(std::string("SetValue ") + name + ": key not open");
      return ms::ERROR_INVALID_HANDLE;
    }
    std::int32_t status = set_status;
    if (!set_results.empty()) {
      status = set_results.front();
      set_results.pop_front();
    }
    if (status == 0) {
      registry[handles_.at(key)][name] = Value{type, {data, data + count}};
    }
    return status;
  }

  std::int32_t CloseKey(RegKey key) override {
    calls.emplace_back(call::CloseKey{handles_.count(key) != 0 ? handles_[key].second : "?"});
    if (open_keys.erase(key) == 0) {
      violations.push_back("CloseKey of a key that is not open");
      return ms::ERROR_INVALID_HANDLE;
    }
    return 0;
  }

  Bounded BroadcastMessage(std::uint32_t message, std::uint32_t wparam, std::int32_t lparam,
                           std::uint32_t flags, std::uint32_t timeout_ms,
                           std::uint32_t bound_ms) override {
    const int number = static_cast<int>(guard_at_broadcast.size());
    calls.emplace_back(call::Broadcast{message, wparam, lparam, flags, timeout_ms, bound_ms});
    std::optional<std::string> seen;
    for (const RegKey key : open_keys) {
      if (auto text = Stored(handles_[key].first, handles_[key].second, watched_value)) {
        seen = text;
      }
    }
    watched_at_broadcast.push_back(seen);
    guard_at_broadcast.push_back(guard_text);
    return cut_short_broadcasts.count(number) != 0 ? Bounded::kStillRunning : Bounded::kReturned;
  }

  Bounded ApplySystemParameter(std::uint32_t action, std::uint32_t param, void* data,
                               std::uint32_t flags, std::uint32_t bound_ms) override {
    calls.emplace_back(call::SystemParameter{action, param, data != nullptr, flags, bound_ms});
    return cut_short_requests.count(action) != 0 ? Bounded::kStillRunning : Bounded::kReturned;
  }

  Bounded SetSysColors(std::int32_t count, const std::int32_t* elements,
                       const std::uint32_t* colors, std::uint32_t bound_ms) override {
    calls.emplace_back(call::SetSysColors{{elements, elements + count}, bound_ms});
    if (count < 1 || count > 25) {
      violations.push_back("SetSysColors of " + std::to_string(count) + " elements, not 1 to 25");
    }
    for (std::int32_t i = 0; i < count; ++i) {
      system_colors[elements[i]] = colors[i];
    }
    return colors_cut_short ? Bounded::kStillRunning : Bounded::kReturned;
  }

  std::int32_t CreateNamedMutex(const char* name, Handle* mutex) override {
    calls.emplace_back(call::CreateNamedMutex{name, mutex_status});
    if (mutex_status == 0) {
      *mutex = next_handle_++;
      open_handles.insert(*mutex);
      mutexes_[*mutex] = name;
    }
    return mutex_status;
  }

  std::uint32_t WaitForObject(Handle object, std::uint32_t timeout_ms) override {
    calls.emplace_back(call::WaitForObject{timeout_ms, wait_result});
    if (open_handles.count(object) == 0) {
      violations.push_back("WaitForObject on a handle that is not open");
    } else if (wait_result == ms::WAIT_OBJECT_0 || wait_result == ms::WAIT_ABANDONED) {
      held_.insert(object);
    }
    return wait_result;
  }

  std::int32_t ReleaseMutex(Handle mutex) override {
    calls.emplace_back(call::ReleaseMutex{mutexes_[mutex]});
    if (held_.erase(mutex) == 0) {
      violations.push_back("ReleaseMutex of a mutex that is not held");
      return 0;
    }
    return 1;
  }

  std::int32_t CloseHandle(Handle object) override {
    calls.emplace_back(call::CloseHandle{mutexes_[object]});
    if (held_.count(object) != 0) {
      violations.push_back("CloseHandle of a mutex still held");
    }
    if (open_handles.erase(object) == 0) {
      violations.push_back("CloseHandle of a handle that is not open");
      return 0;
    }
    return 1;
  }

  void ArmInterruptGuard(RegKey key, const char* name, const char* text) override {
    calls.emplace_back(call::ArmInterruptGuard{name, text});
    if (open_keys.count(key) == 0) {
      violations.push_back("ArmInterruptGuard with a key that is not open");
    }
    guard_text = text;
  }

  void DisarmInterruptGuard() override {
    calls.emplace_back(call::DisarmInterruptGuard{});
    guard_text.reset();
  }

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
  // Bytes the platform leaves after the data it copies: a program that forgets
  // to end the text itself reads these.
  static constexpr std::uint8_t kJunk = '#';

  static void RecordText(const char* text, void* context) {
    static_cast<FakePlatform*>(context)->calls.emplace_back(call::Emit{text});
  }

  std::map<RegKey, KeyPath> handles_;
  RegKey next_handle_ = 0x100;
  std::map<Handle, std::string> mutexes_;  // by handle, the name it was created with
  std::set<Handle> held_;
};

}  // namespace plenvor
