#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "refresh/icon_metrics.h"
#include "refresh/system_colors.h"
#include "refresh/win32_codes.h"
#include "tests/fake_platform.h"

namespace plenvor {

// How the fake logs the opening of the WindowMetrics key, up to its result.
inline const std::string kOpenWindowMetrics =
    "OpenKey 80000003 .Default\\Control Panel\\desktop\\WindowMetrics 0 f003f -> ";

// Every test through the fake ends with the platform's rules kept: no room
// beyond the buffer, no key used after close, no key left open.
class FakeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(fake.violations, std::vector<std::string>{});
    EXPECT_TRUE(fake.open_keys.empty()) << "a key was left open";
    EXPECT_TRUE(fake.open_handles.empty()) << "a handle was left open";
    EXPECT_FALSE(fake.guard_text) << "the interrupt guard was left armed";
  }

  void PutIconSize(const std::string& text) {
    fake.PutText(win::HKEY_USERS, kWindowMetricsPath, kShellIconSizeName, text);
  }
  std::optional<std::string> IconSize() const {
    return fake.StoredText(win::HKEY_USERS, kWindowMetricsPath, kShellIconSizeName);
  }
  void PutColor(int element, const std::string& text) {
    fake.PutText(win::HKEY_CURRENT_USER, kColorsPath,
                 SystemColorTable[static_cast<std::size_t>(element)], text);
  }
  void PutScheme(const std::string& text) {
    for (int element = 0; element < kSystemColorCount; ++element) {
      PutColor(element, text);
    }
  }
  // Log lines that start with prefix, in order.
  std::vector<std::string> Calls(const std::string& prefix) const {
    std::vector<std::string> lines;
    for (const std::string& line : fake.log) {
      if (line.rfind(prefix, 0) == 0) {
        lines.push_back(line);
      }
    }
    return lines;
  }

  FakePlatform fake;
};

}  // namespace plenvor
