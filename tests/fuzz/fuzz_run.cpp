// A whole run through the fake, on a registry and faults built from the
// input, with the run's invariants checked on every input.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/emit_text.h"
#include "refresh/icon_metrics.h"
#include "refresh/system_colors.h"
#include "refresh/win32_codes.h"
#include "tests/fake_platform.h"

namespace plenvor {
namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    (void)std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

std::int32_t OpenResult(FuzzedDataProvider& in) {
  constexpr std::int32_t kResults[] = {0,
                                       0,
                                       0,
                                       win::ERROR_FILE_NOT_FOUND,
                                       win::ERROR_BADDB,
                                       win::ERROR_BADKEY,
                                       win::ERROR_ACCESS_DENIED};
  return in.ConsumeBool() ? in.ConsumeIntegral<std::int32_t>() : in.PickValueInArray(kResults);
}

void FillValue(FuzzedDataProvider& in, FakePlatform& fake, RegKey root, const char* path,
               const char* name) {
  if (in.ConsumeBool()) {
    FakePlatform::Value value;
    value.type = in.ConsumeBool() ? win::REG_SZ : in.ConsumeIntegral<std::uint32_t>();
    const std::string bytes = in.ConsumeRandomLengthString(100);
    value.data.assign(bytes.begin(), bytes.end());
    fake.registry[{root, path}][name] = value;
  }
  if (in.ConsumeIntegralInRange(0, 7) == 0) {
    FakePlatform::QueryFault fault;
    fault.status = in.ConsumeBool() ? win::ERROR_MORE_DATA : in.ConsumeIntegral<std::int32_t>();
    if (in.ConsumeBool()) {
      fault.count = in.ConsumeIntegral<std::uint32_t>();
    }
    fault.times = in.ConsumeIntegralInRange(1, 3);
    fake.query_faults[name] = fault;
  }
}

}  // namespace
}  // namespace plenvor

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace plenvor;
  FuzzedDataProvider in(data, size);
  FakePlatform fake;
  SetTextSink([](const char*, void*) {}, nullptr);

  const std::int32_t icon_open = OpenResult(in);
  const std::int32_t colors_open = OpenResult(in);
  fake.registry[{win::HKEY_USERS, kWindowMetricsPath}];
  fake.registry[{win::HKEY_CURRENT_USER, kColorsPath}];
  if (icon_open != 0) {
    fake.open_status[kWindowMetricsPath] = icon_open;
  }
  if (colors_open != 0) {
    fake.open_status[kColorsPath] = colors_open;
  }
  FillValue(in, fake, win::HKEY_USERS, kWindowMetricsPath, kShellIconSizeName);
  for (const char* name : SystemColorTable) {
    FillValue(in, fake, win::HKEY_CURRENT_USER, kColorsPath, name);
  }
  fake.set_status = in.ConsumeBool() ? 0 : in.ConsumeIntegral<std::int32_t>();
  fake.mutex_status = in.ConsumeBool() ? 0
                      : in.ConsumeBool()
                          // ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE,
                          // ERROR_BAD_PATHNAME
                          ? in.PickValueInArray<std::int32_t>({3, 5, 6, 161})
                          : in.ConsumeIntegral<std::int32_t>();
  fake.wait_result = in.PickValueInArray<std::uint32_t>({0, 0x80, 0x102, 0xFFFFFFFF});
  fake.colors_never_return = in.ConsumeBool();
  for (int broadcast = 0; broadcast < 2; ++broadcast) {
    if (in.ConsumeBool()) {
      fake.broadcasts_never_return.insert(broadcast);
    }
  }

  // On the heap, so that the sanitizer bounds any access to the buffer.
  auto buffer = std::make_unique<ValueBuffer>();
  buffer->capacity = in.ConsumeIntegral<std::uint32_t>();  // whatever a step may leave
  fake.expected_buffer = buffer->data.data();
  RefreshIconMetrics(fake, *buffer);
  ReloadSystemColors(fake, *buffer);

  Require(fake.violations.empty(), fake.violations.empty() ? "" : fake.violations[0].c_str());
  Require(fake.open_keys.empty(), "every opened key is closed");
  Require(fake.open_handles.empty(), "the lock's handle is closed");
  Require(!fake.guard_text, "the interrupt guard is disarmed");
  int opens = 0;
  int closes = 0;
  int set_sys_colors = 0;
  for (const std::string& line : fake.log) {
    opens += line.rfind("OpenKey", 0) == 0 && line.substr(line.size() - 5) == " -> 0" ? 1 : 0;
    closes += line == "CloseKey" ? 1 : 0;
    set_sys_colors += line.rfind("SetSysColors", 0) == 0 ? 1 : 0;
  }
  Require(opens == closes, "each opened key is closed exactly once");
  Require(set_sys_colors <= 1, "at most one SetSysColors");
  // The broadcast made while this run's "0" is stored.
  if (!fake.icon_stores.empty()) {
    const auto& guard = fake.guard_at_broadcast.at(0);
    Require(guard.has_value(), "an interrupt while \"0\" is stored restores the size");
    const std::int32_t restored = ConvertSizeText(guard->c_str());
    Require(restored >= 14 && restored <= 100, "the size an interrupt restores is in 14..100");
  }
  // Only a missing global namespace (ERROR_PATH_NOT_FOUND, ERROR_BAD_PATHNAME)
  // lets a run go on without the lock; any other failure means it is held.
  const bool no_namespace = fake.mutex_status == 3 || fake.mutex_status == 161;
  const bool lock_taken = fake.mutex_status == 0 ? fake.wait_result == 0x102 : !no_namespace;
  if (icon_open == 0 && lock_taken) {
    Require(fake.icon_stores.empty(), "nothing stored while another run holds the size");
  } else if (icon_open == 0) {
    Require(fake.icon_stores.size() == 2, "two stores of the icon size");
    Require(fake.icon_stores[0] == "0", "the first store is \"0\"");
    const std::int32_t stored = ConvertSizeText(fake.icon_stores[1].c_str());
    Require(stored >= 14 && stored <= 100, "the size stored back lies in 14..100");
  } else {
    Require(fake.icon_stores.empty(), "nothing stored without the key");
  }
  SetTextSink(nullptr, nullptr);
  return 0;
}
