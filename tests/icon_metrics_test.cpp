#include "refresh/icon_metrics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fake_fixture.h"

namespace plenvor {
namespace {

using namespace std::string_literals;

struct SizeCase {
  std::string text;     // the stored size text
  std::int32_t number;  // what it converts to
  std::string stored;   // what the step stores back
};

// Conversion and range together: every text that passes is stored back
// exactly as it was, every other one becomes "32".
const std::vector<SizeCase> kSizeCases = {
    {"32", 32, "32"},
    {"14", 14, "14"},
    {"100", 100, "100"},
    {"13", 13, "32"},
    {"101", 101, "32"},
    {"0", 0, "32"},
    {"-40", -40, "32"},
    {" 48", 48, " 48"},
    {"\t\n\v\f\r 20", 20, "\t\n\v\f\r 20"},
    {"+50", 50, "+50"},
    {"48px", 48, "48px"},
    {"+-5", 0, "32"},
    {"- 5", 0, "32"},
    {"0x30", 0, "32"},
    {"040", 40, "040"},
    {"4294967328", 32, "4294967328"},    // 2^32 + 32 wraps to 32
    {"-4294967264", 32, "-4294967264"},  // -(2^32 - 32) wraps to 32
    {"2147483648", -2147483647 - 1, "32"},
    {"abc", 0, "32"},
    {"", 0, "32"},
    {"48 20", 48, "48 20"},
};

TEST(ConvertSizeText, ConvertsAsDecimalWithWrapping) {
  for (const SizeCase& c : kSizeCases) {
    EXPECT_EQ(ConvertSizeText(c.text.c_str()), c.number) << "'" << c.text << "'";
  }
}

class RefreshIconMetricsTest : public FakeTest {
 protected:
  StepOutcome Run() { return RefreshIconMetrics(fake, buffer); }
  void PutRaw(std::uint32_t type, const std::string& bytes) {
    fake.registry[{win::HKEY_USERS, kWindowMetricsPath}][kShellIconSizeName] =
        FakePlatform::Value{type, {bytes.begin(), bytes.end()}};
  }
  ValueBuffer buffer;
};

TEST_F(RefreshIconMetricsTest, StoresBackValidatedSizeText) {
  for (const SizeCase& c : kSizeCases) {
    fake.log.clear();
    PutIconSize(c.text);
    EXPECT_EQ(Run(), StepOutcome::kCompleted);
    EXPECT_EQ(IconSize(), c.stored) << "'" << c.text << "'";
  }
}

// Each window 5 s, the broadcast as a whole 10 s.
const std::string kBroadcast = "Broadcast 1a 2e 0 flags=2 timeout=5000 bound=10000";
const std::string kCreateLock = "CreateNamedMutex Global\\Plenvor.ShellIconSize -> ";
const std::string kWaitLock = "WaitForObject 30000 -> ";

TEST_F(RefreshIconMetricsTest, BroadcastsWhileZeroThenAfterTheSizeIsBack) {
  PutIconSize("48");
  EXPECT_EQ(Run(), StepOutcome::kCompleted);
  // The lock is held from before the read to after the close; the guard
  // covers every moment in which "0" may be stored.
  EXPECT_EQ(fake.log, (std::vector<std::string>{
                          kOpenWindowMetrics + "0",
                          kCreateLock + "0",
                          kWaitLock + "0",
                          "QueryValue Shell Icon Size room=80 -> 0 count=2",
                          "ArmInterruptGuard Shell Icon Size \"48\"",
                          "SetValue Shell Icon Size type=1 \"0\" count=1",
                          kBroadcast,
                          "SetValue Shell Icon Size type=1 \"48\" count=2",
                          "DisarmInterruptGuard",
                          kBroadcast,
                          "CloseKey",
                          "ReleaseMutex",
                          "CloseHandle",
                      }));
  EXPECT_EQ(fake.icon_size_at_broadcast, (std::vector<std::optional<std::string>>{"0", "48"}));
  EXPECT_EQ(fake.guard_at_broadcast, (std::vector<std::optional<std::string>>{"48", {}}));
}

struct LockCase {
  const char* name;
  std::int32_t create;  // result of creating the mutex
  std::uint32_t wait;   // result of waiting for it
  StepOutcome outcome;
  std::vector<std::string> lock_calls;  // every lock call, in order
  bool size_read_and_stored;
};

class IconSizeLockTest : public RefreshIconMetricsTest,
                         public ::testing::WithParamInterface<LockCase> {};

TEST_P(IconSizeLockTest, TakesTurnsWithOtherRunsOrGoesOnWithout) {
  const LockCase& c = GetParam();
  PutIconSize("48");
  fake.mutex_status = c.create;
  fake.wait_result = c.wait;
  EXPECT_EQ(Run(), c.outcome);
  std::vector<std::string> lock_calls;
  for (const std::string& line : fake.log) {
    if (line.find("Mutex") != std::string::npos || line.rfind("WaitFor", 0) == 0 ||
        line == "CloseHandle") {
      lock_calls.push_back(line);
    }
  }
  EXPECT_EQ(lock_calls, c.lock_calls);
  EXPECT_EQ(Calls("Broadcast"), std::vector<std::string>(2, kBroadcast));
  EXPECT_EQ(Calls("QueryValue").size(), c.size_read_and_stored ? 1U : 0U);
  const std::vector<std::string> stores = {"0", "48"};
  EXPECT_EQ(fake.icon_stores, c.size_read_and_stored ? stores : std::vector<std::string>());
}

INSTANTIATE_TEST_SUITE_P(
    Waits, IconSizeLockTest,
    ::testing::Values(LockCase{"Acquired",
                               0,
                               0,
                               StepOutcome::kCompleted,
                               {kCreateLock + "0", kWaitLock + "0", "ReleaseMutex", "CloseHandle"},
                               true},
                      LockCase{"AbandonedCountsAsAcquired",
                               0,
                               0x80,
                               StepOutcome::kCompleted,
                               {kCreateLock + "0", kWaitLock + "80", "ReleaseMutex", "CloseHandle"},
                               true},
                      LockCase{"WaitRunsOut",
                               0,
                               0x102,
                               StepOutcome::kSizeNotStored,
                               {kCreateLock + "0", kWaitLock + "102", "CloseHandle"},
                               false},
                      LockCase{"WaitFailsSoRunsUnserialised",
                               0,
                               0xFFFFFFFF,
                               StepOutcome::kCompleted,
                               {kCreateLock + "0", kWaitLock + "ffffffff", "CloseHandle"},
                               true},
                      // Another program's object holds the name: an event, say
                      // (ERROR_INVALID_HANDLE, 6), or a mutex that refuses this
                      // account (ERROR_ACCESS_DENIED, 5). Like a wait that runs out.
                      LockCase{"NameHeldByAnotherKindOfObject",
                               6,
                               0,
                               StepOutcome::kSizeNotStored,
                               {kCreateLock + "6"},
                               false},
                      LockCase{"NameHeldByAMutexThatRefusesUs",
                               5,
                               0,
                               StepOutcome::kSizeNotStored,
                               {kCreateLock + "5"},
                               false},
                      LockCase{"AnyOtherFailureCountsAsHeld",
                               8,  // ERROR_NOT_ENOUGH_MEMORY
                               0,
                               StepOutcome::kSizeNotStored,
                               {kCreateLock + "8"},
                               false},
                      // No global namespace (NT 4.0 without Terminal Services):
                      // ERROR_PATH_NOT_FOUND (3), ERROR_BAD_PATHNAME (161).
                      LockCase{"NoNamespaceSoRunsUnserialised",
                               3,
                               0,
                               StepOutcome::kCompleted,
                               {kCreateLock + "3"},
                               true},
                      LockCase{"BadPathnameSoRunsUnserialised",
                               161,
                               0,
                               StepOutcome::kCompleted,
                               {kCreateLock + "161"},
                               true}),
    [](const ::testing::TestParamInfo<LockCase>& param) { return param.param.name; });

TEST_F(RefreshIconMetricsTest, AFailedStoreIsReportedAndTheSequenceKept) {
  for (const int failing : {0, 1}) {
    fake.log.clear();
    fake.set_results = {failing == 0 ? win::ERROR_ACCESS_DENIED : 0,
                        failing == 1 ? win::ERROR_ACCESS_DENIED : 0};
    PutIconSize("48");
    const std::vector<std::string> stores = {"SetValue Shell Icon Size type=1 \"0\" count=1",
                                             "SetValue Shell Icon Size type=1 \"48\" count=2"};
    EXPECT_EQ(Run(), StepOutcome::kSizeNotStored) << "store " << failing;
    EXPECT_EQ(Calls("SetValue"), stores);
    EXPECT_EQ(Calls("Broadcast").size(), 2U);
  }
}

struct RawCase {
  const char* name;
  std::uint32_t type;
  std::string bytes;
  std::string stored;
};

class RawValueTest : public RefreshIconMetricsTest,
                     public ::testing::WithParamInterface<RawCase> {};

TEST_P(RawValueTest, StoresTheTextUpToItsFirstNulOrTheFallback) {
  PutRaw(GetParam().type, GetParam().bytes);
  Run();
  EXPECT_EQ(IconSize(), GetParam().stored);
  EXPECT_EQ(Calls("SetValue").back(), "SetValue Shell Icon Size type=1 \"" + GetParam().stored +
                                          "\" count=" + std::to_string(GetParam().stored.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Values, RawValueTest,
    ::testing::Values(RawCase{"WithItsNul", win::REG_SZ, "48\0"s, "48"},
                      RawCase{"BytesAfterANul", win::REG_SZ, "48\0zz"s, "48"},
                      RawCase{"NulFirst", win::REG_SZ,
                              "\0"s
                              "48",
                              "32"},
                      RawCase{"Empty", win::REG_SZ, "", "32"},
                      RawCase{"Dword", 4, "\x30\0\0\0"s, "32"},
                      RawCase{"ExpandSz", 2, "48\0"s, "32"}, RawCase{"Binary", 3, "48", "32"},
                      RawCase{"Exactly80Bytes", win::REG_SZ, "48" + std::string(78, 'x'),
                              "48" + std::string(78, 'x')},
                      RawCase{"Exactly80BytesOutOfRange", win::REG_SZ, "12" + std::string(78, 'x'),
                              "32"},
                      RawCase{"81Bytes", win::REG_SZ, "48" + std::string(79, 'x'), "32"}),
    [](const ::testing::TestParamInfo<RawCase>& param) { return param.param.name; });

TEST_F(RefreshIconMetricsTest, MissingOrUnreadableValueBecomesTheFallback) {
  fake.registry[{win::HKEY_USERS, kWindowMetricsPath}];  // key without the value
  Run();
  EXPECT_EQ(IconSize(), "32");

  PutIconSize("48");
  fake.query_faults[kShellIconSizeName] = {win::ERROR_ACCESS_DENIED, std::nullopt};
  Run();
  EXPECT_EQ(IconSize(), "32");
}

TEST_F(RefreshIconMetricsTest, OffersAtMost80EvenWhenTheBufferHeldMore) {
  PutIconSize("48");
  buffer.capacity = 500;  // what an earlier failed read may have left
  Run();
  EXPECT_EQ(Calls("QueryValue"),
            std::vector<std::string>{"QueryValue Shell Icon Size room=80 -> 0 count=2"});
}

TEST_F(RefreshIconMetricsTest, SurvivesAPlatformThatReportsMoreThanItWasOffered) {
  PutIconSize("48");
  fake.query_faults[kShellIconSizeName] = {win::ERROR_SUCCESS, 4000};
  Run();
  // Only the 80 bytes offered are text: "48" and the bytes the platform left.
  EXPECT_EQ(IconSize(), "48" + std::string(78, '#'));
}

TEST_F(RefreshIconMetricsTest, MissingKeyIsReportedAndNothingIsTouched) {
  for (const std::int32_t status :
       {win::ERROR_FILE_NOT_FOUND, win::ERROR_BADDB, win::ERROR_BADKEY}) {
    fake.log.clear();
    fake.open_status[kWindowMetricsPath] = status;
    EXPECT_EQ(Run(), StepOutcome::kKeyNotOpened);
    ASSERT_EQ(fake.log.size(), 2U) << status;
    EXPECT_EQ(fake.log[1], "Emit  Key doesn't exist \n");
  }
  EXPECT_TRUE(fake.registry.empty());
}

TEST_F(RefreshIconMetricsTest, RefusedKeyStillBroadcastsTwiceAndTouchesNothing) {
  PutIconSize("12");
  fake.open_status[kWindowMetricsPath] = win::ERROR_ACCESS_DENIED;
  EXPECT_EQ(Run(), StepOutcome::kKeyNotOpened);
  EXPECT_EQ(fake.log, (std::vector<std::string>{
                          kOpenWindowMetrics + "5",
                          kBroadcast,
                          kBroadcast,
                      }));
  EXPECT_EQ(IconSize(), "12");
}

}  // namespace
}  // namespace plenvor
