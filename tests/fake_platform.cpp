#include "tests/fake_platform.h"

#include <algorithm>

#include "app/emit_text.h"
#include "tests/test_data.h"

namespace plenvor {
namespace {

// Bytes the platform leaves after the data it copies: a program that forgets
// to end the text itself reads these.
constexpr std::uint8_t kJunk = '#';

}  // namespace

FakePlatform::FakePlatform() { SetTextSink(RecordText, this); }

FakePlatform::~FakePlatform() { SetTextSink(nullptr, nullptr); }

void FakePlatform::RecordText(const char* text, void* context) {
  static_cast<FakePlatform*>(context)->calls.emplace_back(call::Emit{text});
}

void FakePlatform::Put(RegKey root, const std::string& subkey, const std::string& name,
                       const std::string& bytes, std::uint32_t type) {
  registry[{root, subkey}][name] = Value{type, {bytes.begin(), bytes.end()}};
}

std::optional<std::string> FakePlatform::Stored(RegKey root, const std::string& subkey,
                                                const std::string& name) const {
  const auto key = registry.find({root, subkey});
  if (key == registry.end() || key->second.count(name) == 0) {
    return std::nullopt;
  }
  const std::vector<std::uint8_t>& data = key->second.at(name).data;
  return std::string(data.begin(), data.end());
}

std::vector<std::string> FakePlatform::StoresInto(const std::string& name) const {
  std::vector<std::string> stores;
  for (const call::SetValue& store : CallsOf<call::SetValue>()) {
    if (store.name == name) {
      stores.push_back(store.data);
    }
  }
  return stores;
}

std::int32_t FakePlatform::OpenKey(RegKey root, const char* subkey, std::uint32_t options,
                                   std::uint32_t access, RegKey* key) {
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

std::int32_t FakePlatform::QueryValue(RegKey key, const char* name, std::uint32_t* type,
                                      std::uint8_t* data, std::uint32_t* count) {
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
  const auto handle = handles_.find(key);
  auto fault = query_faults.find(name);
  if (handle == handles_.end() || open_keys.count(key) == 0) {
    violations.push_back(what + ": key not open");
    status = ms::ERROR_INVALID_HANDLE;
  } else if (fault != query_faults.end() && fault->second.times > 0 && fault->second.status != 0) {
    --fault->second.times;
    status = fault->second.status;
    if (fault->second.count) {
      *count = *fault->second.count;
    }
  } else {
    const Values& values = registry[handle->second];
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

std::int32_t FakePlatform::SetValue(RegKey key, const char* name, std::uint32_t type,
                                    const std::uint8_t* data, std::uint32_t count) {
  calls.emplace_back(
      call::SetValue{name, type, std::string(reinterpret_cast<const char*>(data), count)});
  const auto handle = handles_.find(key);
  if (handle == handles_.end() || open_keys.count(key) == 0) {
    violations.push_back(std::string("SetValue ") + name + ": key not open");
    return ms::ERROR_INVALID_HANDLE;
  }
  std::int32_t status = set_status;
  if (!set_results.empty()) {
    status = set_results.front();
    set_results.pop_front();
  }
  if (status == 0) {
    registry[handle->second][name] = Value{type, {data, data + count}};
  }
  return status;
}

std::int32_t FakePlatform::CloseKey(RegKey key) {
  calls.emplace_back(call::CloseKey{handles_.count(key) != 0 ? handles_[key].second : "?"});
  if (open_keys.erase(key) == 0) {
    violations.push_back("CloseKey of a key that is not open");
    return ms::ERROR_INVALID_HANDLE;
  }
  return 0;
}

std::uint32_t FakePlatform::BroadcastMessage(std::uint32_t message, std::uint32_t wparam,
                                             std::int32_t lparam, std::uint32_t flags,
                                             std::uint32_t timeout_ms, std::uint32_t bound_ms) {
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
  return cut_short_broadcasts.count(number) != 0 ? ms::WAIT_TIMEOUT : ms::WAIT_OBJECT_0;
}

std::uint32_t FakePlatform::ApplySystemParameter(std::uint32_t action, std::uint32_t param,
                                                 void* data, std::uint32_t flags,
                                                 std::uint32_t bound_ms) {
  calls.emplace_back(call::SystemParameter{action, param, data != nullptr, flags, bound_ms});
  return cut_short_requests.count(action) != 0 ? ms::WAIT_TIMEOUT : ms::WAIT_OBJECT_0;
}

std::uint32_t FakePlatform::SetSysColors(std::int32_t count, const std::int32_t* elements,
                                         const std::uint32_t* colors, std::uint32_t bound_ms) {
  calls.emplace_back(call::SetSysColors{{elements, elements + count}, bound_ms});
  for (std::int32_t i = 0; i < count; ++i) {
    system_colors[elements[i]] = colors[i];
  }
  return colors_cut_short ? ms::WAIT_TIMEOUT : ms::WAIT_OBJECT_0;
}

std::int32_t FakePlatform::CreateNamedMutex(const char* name, Handle* mutex) {
  calls.emplace_back(call::CreateNamedMutex{name, mutex_status});
  if (mutex_status == 0) {
    *mutex = next_handle_++;
    open_handles.insert(*mutex);
    mutexes_[*mutex] = name;
  }
  return mutex_status;
}

std::uint32_t FakePlatform::WaitForObject(Handle object, std::uint32_t timeout_ms) {
  calls.emplace_back(call::WaitForObject{timeout_ms, wait_result});
  if (open_handles.count(object) == 0) {
    violations.push_back("WaitForObject on a handle that is not open");
  } else if (wait_result == ms::WAIT_OBJECT_0 || wait_result == ms::WAIT_ABANDONED) {
    held_.insert(object);
  }
  return wait_result;
}

std::int32_t FakePlatform::ReleaseMutex(Handle mutex) {
  calls.emplace_back(call::ReleaseMutex{mutexes_[mutex]});
  if (held_.erase(mutex) == 0) {
    violations.push_back("ReleaseMutex of a mutex that is not held");
    return 0;
  }
  return 1;
}

std::int32_t FakePlatform::CloseHandle(Handle object) {
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

void FakePlatform::ArmInterruptGuard(RegKey key, const char* name, const char* text) {
  calls.emplace_back(call::ArmInterruptGuard{name, text});
  if (open_keys.count(key) == 0) {
    violations.push_back("ArmInterruptGuard with a key that is not open");
  }
  guard_text = text;
}

void FakePlatform::DisarmInterruptGuard() {
  calls.emplace_back(call::DisarmInterruptGuard{});
  guard_text.reset();
}

}  // namespace plenvor
