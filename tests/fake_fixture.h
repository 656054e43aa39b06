#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "tests/fake_platform.h"
#include "tests/test_data.h"

namespace plenvor {

// For GoogleTest's messages: the call's name, then its fields as GoogleTest
// prints a tuple of their values.
inline std::ostream& operator<<(std::ostream& out, const Call& recorded) {
  const auto values = [](const auto&... fields) { return std::make_tuple(fields...); };
  return out << std::visit(
             [&values](const auto& one) {
               return call::Name(one) +
                      ::testing::PrintToString(std::apply(values, call::Fields(one)));
             },
             recorded.what);
}

// A text as GoogleTest quotes it.
inline std::string Quoted(const std::string& text) { return ::testing::PrintToString(text); }

// The names a run uses, as the test data gives them.
inline const std::string& WindowMetricsPath() { return test_data::Fact("window_metrics"); }
inline const std::string& IconSizeName() { return test_data::Fact("icon_size"); }
inline const std::string& ColorsPath() { return test_data::Fact("colors"); }

// The calls of the steps, as a run must make them.
inline call::Emit KeyMissing() { return {test_data::Fact("key_missing") + "\n"}; }
inline call::OpenKey OpenWindowMetrics(std::int32_t result) {
  return {ms::HKEY_USERS, WindowMetricsPath(), 0, ms::KEY_ALL_ACCESS, result};
}
inline call::OpenKey OpenColors(std::int32_t result) {
  return {ms::HKEY_CURRENT_USER, ColorsPath(), 0, ms::KEY_READ, result};
}
// Each window 5 s, the broadcast as a whole 10 s.
inline const call::Broadcast kIconBroadcast{
    ms::WM_SETTINGCHANGE, ms::SPI_SETICONMETRICS, 0, ms::SMTO_ABORTIFHUNG, 5000, 10000};
inline call::SetValue StoreIconSize(const std::string& text) {
  return {IconSizeName(), ms::REG_SZ, text};
}

// Every test through the fake ends with the platform's rules kept: no room
// beyond the buffer, no key used after close, no key left open.
class FakeTest : public ::testing::Test {
 protected:
  FakeTest() { fake.watched_value = IconSizeName(); }

  void TearDown() override {
    EXPECT_EQ(fake.violations, std::vector<std::string>{});
    EXPECT_TRUE(fake.open_keys.empty()) << "a key was left open";
    EXPECT_TRUE(fake.open_handles.empty()) << "a handle was left open";
    EXPECT_FALSE(fake.guard_text) << "the interrupt guard was left armed";
  }

  void PutIconSize(const std::string& bytes, std::uint32_t type = ms::REG_SZ) {
    fake.Put(ms::HKEY_USERS, WindowMetricsPath(), IconSizeName(), bytes, type);
  }
  std::optional<std::string> IconSize() const {
    return fake.Stored(ms::HKEY_USERS, WindowMetricsPath(), IconSizeName());
  }
  void PutColor(int element, const std::string& bytes, std::uint32_t type = ms::REG_SZ) {
    fake.Put(ms::HKEY_CURRENT_USER, ColorsPath(),
             test_data::kColorNames.at(static_cast<std::size_t>(element)), bytes, type);
  }
  void PutScheme(const std::string& text) {
    for (int element = 0; element < 25; ++element) {
      PutColor(element, text);
    }
  }

  FakePlatform fake;
};

}  // namespace plenvor
