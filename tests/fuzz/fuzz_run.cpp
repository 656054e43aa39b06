// A whole run through the fake, on a registry and faults built from the
// input, with the run's invariants checked on every input.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/emit_text.h"
#include "refresh/icon_metrics.h"
#include "refresh/system_colors.h"
#include "tests/fake_platform.h"
#include "tests/test_data.h"

namespace plenvor {
namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    (void)std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// A size the run may leave stored.
bool InRange(const std::string& text) {
  const std::int32_t size = ConvertSizeText(text.c_str());
  return size >= static_cast<std::int32_t>(test_data::FactNumber("min_size")) &&
         size <= static_cast<std::int32_t>(test_data::FactNumber("max_size"));
}

std::int32_t OpenResult(FuzzedDataProvider& in) {
  return in.ConsumeBool() ? in.ConsumeIntegral<std::int32_t>()
                          : in.PickValueInArray<std::int32_t>({0, 0, 0, ms::ERROR_FILE_NOT_FOUND,
                                                               ms::ERROR_BADDB, ms::ERROR_BADKEY,
                                                               ms::ERROR_ACCESS_DENIED});
}

void FillValue(FuzzedDataProvider& in, FakePlatform& fake, RegKey root, const std::string& path,
               const std::string& name) {
  if (in.ConsumeBool()) {
    const std::uint32_t type = in.ConsumeBool() ? ms::REG_SZ : in.ConsumeIntegral<std::uint32_t>();
    fake.Put(root, path, name, in.ConsumeRandomLengthString(100), type);
  }
  if (in.ConsumeIntegralInRange(0, 7) == 0) {
    // A braced list is read in order: status, count, times.
    fake.query_faults[name] = {
        in.ConsumeBool() ? ms::ERROR_MORE_DATA : in.ConsumeIntegral<std::int32_t>(),
        in.ConsumeBool() ? std::optional(in.ConsumeIntegral<std::uint32_t>()) : std::nullopt,
        in.ConsumeIntegralInRange(1, 3)};
  }
}

}  // namespace
}  // namespace plenvor

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace plenvor;
  FuzzedDataProvider in(data, size);
  FakePlatform fake;
  SetTextSink([](const char*, void*) {}, nullptr);

  const std::string& window_metrics = test_data::Fact("window_metrics");
  const std::string& colors = test_data::Fact("colors");
  const std::string& icon_size = test_data::Fact("icon_size");
  fake.watched_value = icon_size;
  const std::int32_t icon_open = OpenResult(in);
  const std::int32_t colors_open = OpenResult(in);
  fake.registry[{ms::HKEY_USERS, window_metrics}];
  fake.registry[{ms::HKEY_CURRENT_USER, colors}];
  if (icon_open != 0) {
    fake.open_status[window_metrics] = icon_open;
  }
  if (colors_open != 0) {
    fake.open_status[colors] = colors_open;
  }
  FillValue(in, fake, ms::HKEY_USERS, window_metrics, icon_size);
  for (const std::string& name : test_data::kColorNames) {
    FillValue(in, fake, ms::HKEY_CURRENT_USER, colors, name);
  }
  fake.set_status = in.ConsumeBool() ? 0 : in.ConsumeIntegral<std::int32_t>();
  fake.mutex_status =
      in.ConsumeBool() ? 0
      : in.ConsumeBool()
          ? in.PickValueInArray<std::int32_t>({ms::ERROR_PATH_NOT_FOUND, ms::ERROR_ACCESS_DENIED,
                                               ms::ERROR_INVALID_HANDLE, ms::ERROR_BAD_PATHNAME})
          : in.ConsumeIntegral<std::int32_t>();
  fake.wait_result = in.PickValueInArray<std::uint32_t>(
      {ms::WAIT_OBJECT_0, ms::WAIT_ABANDONED, ms::WAIT_TIMEOUT, ms::WAIT_FAILED});
  fake.colors_cut_short = in.ConsumeBool();
  for (int broadcast = 0; broadcast < 2; ++broadcast) {
    if (in.ConsumeBool()) {
      fake.cut_short_broadcasts.insert(broadcast);
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
  std::size_t opens = 0;
  for (const call::OpenKey& open : fake.CallsOf<call::OpenKey>()) {
    opens += open.result == 0 ? 1 : 0;
  }
  Require(opens == fake.CallsOf<call::CloseKey>().size(), "each opened key is closed exactly once");
  Require(fake.CallsOf<call::SetSysColors>().size() <= 1, "at most one SetSysColors");
  const std::vector<std::string> stores = fake.StoresInto(icon_size);
  // The broadcast made while this run's "0" is stored.
  if (!stores.empty()) {
    const auto& guard = fake.guard_at_broadcast.at(0);
    Require(guard.has_value(), "an interrupt while \"0\" is stored restores the size");
    Require(InRange(*guard), "the size an interrupt restores is in range");
  }
  // Only a missing global namespace (ERROR_PATH_NOT_FOUND, ERROR_BAD_PATHNAME)
  // lets a run go on without the lock; any other failure means it is held.
  const bool no_namespace =
      fake.mutex_status == ms::ERROR_PATH_NOT_FOUND || fake.mutex_status == ms::ERROR_BAD_PATHNAME;
  const bool lock_held =
      fake.wait_result == ms::WAIT_OBJECT_0 || fake.wait_result == ms::WAIT_ABANDONED;
  const bool lock_taken = fake.mutex_status == 0 ? !lock_held : !no_namespace;
  if (icon_open == 0 && lock_taken) {
    Require(stores.empty(), "nothing stored while another run holds the size");
  } else if (icon_open == 0) {
    // "0", then the size, tried once more if that store failed.
    Require(stores.size() == 2 || (stores.size() == 3 && stores[1] == stores[2]),
            "two stores of the icon size, or three");
    Require(stores[0] == "0", "the first store is \"0\"");
    Require(InRange(stores.back()), "the size stored back is in range");
  } else {
    Require(stores.empty(), "nothing stored without the key");
  }
  SetTextSink(nullptr, nullptr);
  return 0;
}
