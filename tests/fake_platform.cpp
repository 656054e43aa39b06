#include "tests/fake_platform.h"

#include <algorithm>
#include <sstream>

#include "app/emit_text.h"
#include "refresh/registry_step.h"
#include "refresh/win32_codes.h"

namespace plenvor {
namespace {

std::string Hex(std::uint64_t value) {
  std::ostringstream text;
  text << std::hex << value;
  return text.str();
}

std::string Quoted(const std::uint8_t* data, std::uint32_t count) {
  return "\"" + std::string(reinterpret_cast<const char*>(data), count) + "\"";
}

// Bytes the platform leaves after the data it copies: a program that forgets
// to end the text itself reads these.
constexpr std::uint8_t kJunk = '#';

}  // namespace

FakePlatform::FakePlatform() { SetTextSink(RecordText, this); }

FakePlatform::~FakePlatform() { SetTextSink(nullptr, nullptr); }

void FakePlatform::RecordText(const char* text, void* context) {
  static_cast<FakePlatform*>(context)->log.push_back(std::string("Emit ") + text);
}

void FakePlatform::PutText(RegKey root, const std::string& subkey, const std::string& name,
                           const std::string& text) {
  registry[{root, subkey}][name] = Value{win::REG_SZ, {text.begin(), text.end()}};
}

std::optional<std::string> FakePlatform::StoredText(RegKey root, const std::string& subkey,
                                                    const std::string& name) const {
  const auto key = registry.find({root, subkey});
  if (key == registry.end()) {
    return std::nullopt;
  }
  const auto value = key->second.find(name);
  if (value == key->second.end()) {
    return std::nullopt;
  }
  return std::string(value->second.data.begin(), value->second.data.end());
}

std::int32_t FakePlatform::OpenKey(RegKey root, const char* subkey, std::uint32_t options,
                                   std::uint32_t access, RegKey* key) {
  std::int32_t status = win::ERROR_SUCCESS;
  if (const auto fault = open_status.find(subkey); fault != open_status.end()) {
    status = fault->second;
  } else if (registry.count({root, subkey}) == 0) {
    status = win::ERROR_FILE_NOT_FOUND;
  } else {
    *key = next_handle_++;
    handles_[*key] = {root, subkey};
    open_keys.insert(*key);
  }
  log.push_back("OpenKey " + Hex(root) + " " + subkey + " " + Hex(options) + " " + Hex(access) +
                " -> " + std::to_string(status));
  return status;
}

std::int32_t FakePlatform::QueryValue(RegKey key, const char* name, std::uint32_t* type,
                                      std::uint8_t* data, std::uint32_t* count) {
  std::uint32_t room = *count;
  std::string entry = std::string("QueryValue ") + name + " room=" + std::to_string(room);
  if (room > ValueBuffer::kMaxData) {
    violations.push_back(entry + ": more room offered than the buffer holds");
    room = ValueBuffer::kMaxData;  // keep the fake itself inside the buffer
  }
  if (expected_buffer != nullptr && data != expected_buffer) {
    violations.push_back(entry + ": data is not the run's buffer");
  }
  std::int32_t status = win::ERROR_SUCCESS;
  const auto handle = handles_.find(key);
  auto fault = query_faults.find(name);
  if (handle == handles_.end() || open_keys.count(key) == 0) {
    violations.push_back(entry + ": key not open");
    status = 6;  // ERROR_INVALID_HANDLE
  } else if (fault != query_faults.end() && fault->second.times > 0 &&
             fault->second.status != win::ERROR_SUCCESS) {
    --fault->second.times;
    status = fault->second.status;
    if (fault->second.count) {
      *count = *fault->second.count;
    }
  } else {
    const Values& values = registry[handle->second];
    const auto value = values.find(name);
    if (value == values.end()) {
      status = win::ERROR_FILE_NOT_FOUND;
    } else {
      const auto size = static_cast<std::uint32_t>(value->second.data.size());
      *type = value->second.type;
      if (size > room) {
        status = win::ERROR_MORE_DATA;
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
  log.push_back(entry + " -> " + std::to_string(status) + " count=" + std::to_string(*count));
  return status;
}

std::int32_t FakePlatform::SetValue(RegKey key, const char* name, std::uint32_t type,
                                    const std::uint8_t* data, std::uint32_t count) {
  log.push_back(std::string("SetValue ") + name + " type=" + std::to_string(type) + " " +
                Quoted(data, count) + " count=" + std::to_string(count));
  if (std::string(name) == "Shell Icon Size") {
    icon_stores.emplace_back(reinterpret_cast<const char*>(data), count);
  }
  const auto handle = handles_.find(key);
  if (handle == handles_.end() || open_keys.count(key) == 0) {
    violations.push_back(std::string("SetValue ") + name + ": key not open");
    return 6;
  }
  std::int32_t status = set_status;
  if (!set_results.empty()) {
    status = set_results.front();
    set_results.pop_front();
  }
  if (status == win::ERROR_SUCCESS) {
    registry[handle->second][name] = Value{type, {data, data + count}};
  }
  return status;
}

std::int32_t FakePlatform::CloseKey(RegKey key) {
  log.push_back("CloseKey");
  if (open_keys.erase(key) == 0) {
    violations.push_back("CloseKey of a key that is not open");
    return 6;
  }
  return win::ERROR_SUCCESS;
}

std::uint32_t FakePlatform::BroadcastMessage(std::uint32_t message, std::uint32_t wparam,
                                             std::int32_t lparam, std::uint32_t flags,
                                             std::uint32_t timeout_ms, std::uint32_t bound_ms) {
  const int number = static_cast<int>(icon_size_at_broadcast.size());
  log.push_back("Broadcast " + Hex(message) + " " + Hex(wparam) + " " + std::to_string(lparam) +
                " flags=" + Hex(flags) + " timeout=" + std::to_string(timeout_ms) +
                " bound=" + std::to_string(bound_ms));
  std::optional<std::string> seen;
  for (const RegKey key : open_keys) {
    if (auto text = StoredText(handles_[key].first, handles_[key].second, "Shell Icon Size")) {
      seen = text;
    }
  }
  icon_size_at_broadcast.push_back(seen);
  guard_at_broadcast.push_back(guard_text);
  return broadcasts_never_return.count(number) != 0 ? win::WAIT_TIMEOUT : win::WAIT_OBJECT_0;
}

std::uint32_t FakePlatform::ApplySystemParameter(std::uint32_t action, std::uint32_t param,
                                                 void* data, std::uint32_t flags,
                                                 std::uint32_t bound_ms) {
  log.push_back("SystemParametersInfo " + Hex(action) + " " + std::to_string(param) + " " +
                (data == nullptr ? "null" : "data") + " " + Hex(flags) +
                " bound=" + std::to_string(bound_ms));
  return spi_never_return.count(action) != 0 ? win::WAIT_TIMEOUT : win::WAIT_OBJECT_0;
}

std::uint32_t FakePlatform::SetSysColors(std::int32_t count, const std::int32_t* elements,
                                         const std::uint32_t* colors, std::uint32_t bound_ms) {
  log.push_back("SetSysColors " + std::to_string(count) + " bound=" + std::to_string(bound_ms));
  for (std::int32_t i = 0; i < count; ++i) {
    system_colors[elements[i]] = colors[i];
  }
  return colors_never_return ? win::WAIT_TIMEOUT : win::WAIT_OBJECT_0;
}

std::int32_t FakePlatform::CreateNamedMutex(const char* name, Handle* mutex) {
  log.push_back(std::string("CreateNamedMutex ") + name + " -> " + std::to_string(mutex_status));
  if (mutex_status == win::ERROR_SUCCESS) {
    *mutex = next_handle_++;
    open_handles.insert(*mutex);
  }
  return mutex_status;
}

std::uint32_t FakePlatform::WaitForObject(Handle object, std::uint32_t timeout_ms) {
  log.push_back("WaitForObject " + std::to_string(timeout_ms) + " -> " + Hex(wait_result));
  if (open_handles.count(object) == 0) {
    violations.push_back("WaitForObject on a handle that is not open");
  } else if (wait_result == win::WAIT_OBJECT_0 || wait_result == win::WAIT_ABANDONED) {
    held_.insert(object);
  }
  return wait_result;
}

std::int32_t FakePlatform::ReleaseMutex(Handle mutex) {
  log.push_back("ReleaseMutex");
  if (held_.erase(mutex) == 0) {
    violations.push_back("ReleaseMutex of a mutex that is not held");
    return 0;
  }
  return 1;
}

std::int32_t FakePlatform::CloseHandle(Handle object) {
  log.push_back("CloseHandle");
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
  log.push_back(std::string("ArmInterruptGuard ") + name + " \"" + text + "\"");
  if (open_keys.count(key) == 0) {
    violations.push_back("ArmInterruptGuard with a key that is not open");
  }
  guard_text = text;
}

void FakePlatform::DisarmInterruptGuard() {
  log.push_back("DisarmInterruptGuard");
  guard_text.reset();
}

}  // namespace plenvor
