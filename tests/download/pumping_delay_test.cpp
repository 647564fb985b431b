#include "download/pumping_delay.h"

#include <gtest/gtest.h>

#include <chrono>

namespace folivex {
namespace {

TEST(PumpingDueTime, UnitsAndArithmetic) {
  struct Case {
    const char* name;
    std::int32_t interval, unit;
    std::int64_t due;
  } cases[] = {
      {"10 ms, unit omitted", 10, 0, -100000},
      {"3 seconds", 3, 1, -30000000},
      {"2 minutes", 2, 2, -1200000000},
      {"24 hours does not overflow", 24, 3, -864000000000},
      {"unit 7 lasts 7 ms", 1, 7, -70000},
      {"zero interval is due at once", 0, 1, 0},
      {"negative product names a past moment", -5, 0, 50000},
      {"negative unit value is a multiplier too", 2, -3, 60000},
      {"largest interval in hours is clamped, not undefined", 2147483647, 3,
       -9200000000000000000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PumpingDueTime(c.interval, c.unit), c.due);
  }
}

TEST(PumpingDelay, WaitsAboutTheIntervalAndReturnsTrue) {
  struct Case {
    const char* name;
    std::optional<std::int32_t> interval, unit;
    long min_ms, max_ms;
  } cases[] = {
      {"10 ms with the unit omitted", 10, std::nullopt, 8, 2000},
      {"zero returns at once", 0, 1, 0, 1000},
      {"negative returns at once", -100, 1, 0, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(PumpingDelay(c.interval, c.unit));
    const long elapsed = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - begin)
                                               .count());
    EXPECT_GE(elapsed, c.min_ms);
    EXPECT_LE(elapsed, c.max_ms);
  }
}

}  // namespace
}  // namespace folivex
