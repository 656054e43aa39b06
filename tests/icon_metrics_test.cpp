#include "refresh/icon_metrics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "tests/fake_fixture.h"

namespace plenvor {
namespace {

std::string Described(const test_data::IconSizeCase& c) {
  return "type " + std::to_string(c.type) + " " + Quoted(c.bytes);
}

TEST(ConvertSizeText, ConvertsAsDecimalWithWrapping) {
  for (const auto& c : test_data::kIconSizes) {
    EXPECT_EQ(ConvertSizeText(c.bytes.c_str()), c.number) << Described(c);
  }
}

class RefreshIconMetricsTest : public FakeTest {
 protected:
  StepOutcome Run() { return RefreshIconMetrics(fake, buffer); }
  ValueBuffer buffer;
};

TEST_F(RefreshIconMetricsTest, StoresBackTheValidatedTextWithoutANul) {
  for (const auto& c : test_data::kIconSizes) {
    fake.calls.clear();
    PutIconSize(c.bytes, c.type);
    EXPECT_EQ(Run(), StepOutcome::kCompleted) << Described(c);
    EXPECT_EQ(IconSize(), c.stored) << Described(c);
    EXPECT_EQ(fake.StoresInto(IconSizeName()), (std::vector<std::string>{"0", c.stored}))
        << Described(c);
  }
}

call::CreateNamedMutex CreateLock(std::int32_t result) { return {test_data::Fact("lock"), result}; }

TEST_F(RefreshIconMetricsTest, BroadcastsWhileZeroThenAfterTheSizeIsBack) {
  PutIconSize("48");
  EXPECT_EQ(Run(), StepOutcome::kCompleted);
  // The lock is held from before the read to after the close; the guard
  // covers every moment in which "0" may be stored.
  EXPECT_EQ(fake.calls, (std::vector<Call>{
                            OpenWindowMetrics(0),
                            CreateLock(0),
                            call::WaitForObject{30000, ms::WAIT_OBJECT_0},
                            call::QueryValue{IconSizeName(), 80, 0, 2},
                            call::ArmInterruptGuard{IconSizeName(), "48"},
                            StoreIconSize("0"),
                            kIconBroadcast,
                            StoreIconSize("48"),
                            call::DisarmInterruptGuard{},
                            kIconBroadcast,
                            call::CloseKey{WindowMetricsPath()},
                            call::ReleaseMutex{test_data::Fact("lock")},
                            call::CloseHandle{test_data::Fact("lock")},
                        }));
  EXPECT_EQ(fake.watched_at_broadcast, (std::vector<std::optional<std::string>>{"0", "48"}));
  EXPECT_EQ(fake.guard_at_broadcast, (std::vector<std::optional<std::string>>{"48", {}}));
}

struct LockCase {
  const char* name;
  std::int32_t create;  // what creating the mutex gives
  std::uint32_t wait;   // what waiting for it gives
  StepOutcome outcome;
  bool held;          // the run held the mutex, and so releases it
  bool size_touched;  // the size was read and stored
};

std::ostream& operator<<(std::ostream& out, const LockCase& c) {
  return out << c.name << ": create " << c.create << ", wait 0x" << std::hex << c.wait << std::dec
             << " -> outcome " << static_cast<int>(c.outcome) << (c.held ? ", held" : "")
             << (c.size_touched ? ", size touched" : "");
}

// A table of cases through the step.
template <typename Row>
class IconStepTable : public RefreshIconMetricsTest, public ::testing::WithParamInterface<Row> {};
using IconSizeLockTest = IconStepTable<LockCase>;

TEST_P(IconSizeLockTest, TakesTurnsWithOtherRunsOrLeavesTheSizeAlone) {
  const LockCase& c = GetParam();
  PutIconSize("48");
  fake.mutex_status = c.create;
  fake.wait_result = c.wait;
  EXPECT_EQ(Run(), c.outcome);
  std::vector<Call> expected = {CreateLock(c.create)};
  if (c.create == 0) {
    expected.emplace_back(call::WaitForObject{30000, c.wait});
    if (c.held) {
      expected.emplace_back(call::ReleaseMutex{test_data::Fact("lock")});
    }
    expected.emplace_back(call::CloseHandle{test_data::Fact("lock")});
  }
  EXPECT_EQ((fake.Only<call::CreateNamedMutex, call::WaitForObject, call::ReleaseMutex,
                       call::CloseHandle>()),
            expected);
  EXPECT_EQ(fake.CallsOf<call::Broadcast>(), std::vector<call::Broadcast>(2, kIconBroadcast));
  EXPECT_EQ(fake.CallsOf<call::QueryValue>().size(), c.size_touched ? 1U : 0U);
  EXPECT_EQ(fake.StoresInto(IconSizeName()),
            (c.size_touched ? std::vector<std::string>{"0", "48"} : std::vector<std::string>{}));
}

// Another program's object may hold the name: an event, say (ERROR_INVALID_HANDLE),
// or a mutex that refuses this account (ERROR_ACCESS_DENIED). With no global
// namespace (NT 4.0 without Terminal Services) the name is an ordinary path that
// is not there (ERROR_PATH_NOT_FOUND, ERROR_BAD_PATHNAME).
// clang-format off
INSTANTIATE_TEST_SUITE_P(Waits, IconSizeLockTest, ::testing::Values(
    LockCase{"Acquired", 0, ms::WAIT_OBJECT_0, StepOutcome::kCompleted, true, true},
    LockCase{"AbandonedCountsAsAcquired", 0, ms::WAIT_ABANDONED, StepOutcome::kCompleted, true, true},
    LockCase{"WaitRunsOut", 0, ms::WAIT_TIMEOUT, StepOutcome::kSizeNotStored, false, false},
    LockCase{"WaitFailsCountsAsHeld", 0, ms::WAIT_FAILED, StepOutcome::kSizeNotStored, false, false},
    LockCase{"NameHeldByAnotherKindOfObject", ms::ERROR_INVALID_HANDLE, 0, StepOutcome::kSizeNotStored, false, false},
    LockCase{"NameHeldByAMutexThatRefusesUs", ms::ERROR_ACCESS_DENIED, 0, StepOutcome::kSizeNotStored, false, false},
    LockCase{"AnyOtherFailureCountsAsHeld", ms::ERROR_NOT_ENOUGH_MEMORY, 0, StepOutcome::kSizeNotStored, false, false},
    LockCase{"NoNamespaceSoRunsUnserialised", ms::ERROR_PATH_NOT_FOUND, 0, StepOutcome::kCompleted, false, true},
    LockCase{"BadPathnameSoRunsUnserialised", ms::ERROR_BAD_PATHNAME, 0, StepOutcome::kCompleted, false, true}),
    [](const auto& param) { return param.param.name; });
// clang-format on

struct StoreCase {
  const char* name;
  std::deque<std::int32_t> results;  // of the stores, in turn
  std::size_t stores;
  StepOutcome outcome;
  std::string left;  // what the value holds afterwards
};

std::ostream& operator<<(std::ostream& out, const StoreCase& c) {
  return out << c.name << ": results " << ::testing::PrintToString(c.results) << " -> " << c.stores
             << " stores, outcome " << static_cast<int>(c.outcome) << ", left " << Quoted(c.left);
}

using IconSizeStoreTest = IconStepTable<StoreCase>;

TEST_P(IconSizeStoreTest, ReportsAFailedStoreAndTriesTheSizeTwice) {
  const StoreCase& c = GetParam();
  PutIconSize("48");
  fake.set_results = c.results;
  EXPECT_EQ(Run(), c.outcome);
  std::vector<std::string> stores = {"0", "48", "48"};
  stores.resize(c.stores);
  EXPECT_EQ(fake.StoresInto(IconSizeName()), stores);
  EXPECT_EQ(IconSize(), c.left);
  // Every try is made while an interrupt would still store the size.
  const auto disarm =
      std::find(fake.calls.begin(), fake.calls.end(), Call(call::DisarmInterruptGuard{}));
  EXPECT_EQ(
      std::count_if(disarm, fake.calls.end(),
                    [](const Call& recorded) { return recorded.As<call::SetValue>() != nullptr; }),
      0);
  EXPECT_EQ(fake.CallsOf<call::Broadcast>().size(), 2U);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Stores, IconSizeStoreTest, ::testing::Values(
    StoreCase{"ZeroRefused", {ms::ERROR_ACCESS_DENIED, 0}, 2, StepOutcome::kSizeNotStored, "48"},
    StoreCase{"SizeStoredAtTheSecondTry", {0, ms::ERROR_ACCESS_DENIED, 0}, 3, StepOutcome::kCompleted, "48"},
    // Twice refused: "0" is left, and the status says so.
    StoreCase{"SizeRefusedTwice", {0, ms::ERROR_ACCESS_DENIED, ms::ERROR_ACCESS_DENIED}, 3, StepOutcome::kSizeNotStored, "0"}),
    [](const auto& param) { return param.param.name; });
// clang-format on

TEST_F(RefreshIconMetricsTest, MissingOrUnreadableValueBecomesTheFallback) {
  fake.registry[{ms::HKEY_USERS, WindowMetricsPath()}];  // key without the value
  Run();
  EXPECT_EQ(IconSize(), "32");

  PutIconSize("48");
  fake.query_faults[IconSizeName()] = {ms::ERROR_ACCESS_DENIED, std::nullopt};
  Run();
  EXPECT_EQ(IconSize(), "32");
}

TEST_F(RefreshIconMetricsTest, MissingKeyIsReportedAndNothingIsTouched) {
  for (const std::int32_t status : {ms::ERROR_FILE_NOT_FOUND, ms::ERROR_BADDB, ms::ERROR_BADKEY}) {
    fake.calls.clear();
    fake.open_status[WindowMetricsPath()] = status;
    EXPECT_EQ(Run(), StepOutcome::kKeyNotOpened);
    EXPECT_EQ(fake.calls, (std::vector<Call>{OpenWindowMetrics(status), KeyMissing()}));
  }
  EXPECT_TRUE(fake.registry.empty());
}

TEST_F(RefreshIconMetricsTest, KeyNotOpenedStillBroadcastsTwiceAndTouchesNothing) {
  // Refused (a standard token asking for full access): status 4; any other
  // failure to open a key that is there: 1.
  for (const auto& [status, outcome] :
       {std::pair{ms::ERROR_ACCESS_DENIED, StepOutcome::kKeyRefused},
        std::pair{ms::ERROR_NOT_ENOUGH_MEMORY, StepOutcome::kKeyNotOpened}}) {
    fake.calls.clear();
    PutIconSize("12");
    fake.open_status[WindowMetricsPath()] = status;
    EXPECT_EQ(Run(), outcome) << status;
    EXPECT_EQ(fake.calls,
              (std::vector<Call>{OpenWindowMetrics(status), kIconBroadcast, kIconBroadcast}));
    EXPECT_EQ(IconSize(), "12");
  }
}

}  // namespace
}  // namespace plenvor
