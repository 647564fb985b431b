// Which failures are worth asking again for, how they read, and the limits
// every transfer is held to.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/fetch_common.h"

namespace folivex {
namespace {

TEST(Failure, OnlyWhatCanHealIsRetried) {
  struct Case {
    const char* name;
    Failure failure;
    bool retry;
    const char* short_reason;
  } cases[] = {
      {.name = "refused", .failure = {FailureKind::NoConnection}, .retry = true, .short_reason = "no connection"},
      {.name = "time-out", .failure = {FailureKind::Timeout}, .retry = true, .short_reason = "time-out"},
      {.name = "trickle", .failure = {FailureKind::TooSlow}, .retry = true, .short_reason = "too slow"},
      {.name = "reset", .failure = {FailureKind::Reset}, .retry = true, .short_reason = "connection reset"},
      {.name = "cut short", .failure = {FailureKind::CutShort}, .retry = true, .short_reason = "cut short"},
      {.name = "408", .failure = {FailureKind::HttpStatus, "", 408}, .retry = true, .short_reason = "408"},
      {.name = "429", .failure = {FailureKind::HttpStatus, "", 429}, .retry = true, .short_reason = "429"},
      {.name = "500", .failure = {FailureKind::HttpStatus, "", 500}, .retry = true, .short_reason = "500"},
      {.name = "503", .failure = {FailureKind::HttpStatus, "", 503}, .retry = true, .short_reason = "503"},
      {.name = "404", .failure = {FailureKind::HttpStatus, "", 404}, .retry = false, .short_reason = "404"},
      {.name = "403", .failure = {FailureKind::HttpStatus, "", 403}, .retry = false, .short_reason = "403"},
      {.name = "410", .failure = {FailureKind::HttpStatus, "", 410}, .retry = false, .short_reason = "410"},
      {.name = "400", .failure = {FailureKind::HttpStatus, "", 400}, .retry = false, .short_reason = "400"},
      {.name = "bad address", .failure = {FailureKind::BadAddress}, .retry = false, .short_reason = "bad address"},
      {.name = "not an image", .failure = {FailureKind::NotImage}, .retry = false, .short_reason = "not an image"},
      {.name = "too large", .failure = {FailureKind::TooLarge}, .retry = false, .short_reason = "too large"},
      {.name = "write", .failure = {FailureKind::WriteFailed}, .retry = false, .short_reason = "write failed"},
      {.name = "certificate", .failure = {FailureKind::Security}, .retry = false,
       .short_reason = "secure connection failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Retryable(c.failure), c.retry);
    EXPECT_EQ(ShortReason(c.failure), c.short_reason);
  }
}

TEST(Failure, DescribeAddsTheDetailOnce) {
  EXPECT_EQ(Describe({FailureKind::HttpStatus, "", 404}), "the server answered 404");
  EXPECT_EQ(Describe({FailureKind::Timeout, "no data for 700 ms"}), "time-out: no data for 700 ms");
  EXPECT_EQ(Describe({FailureKind::Other, "odd"}), "odd");
}

TEST(Failure, RetryAfterInSecondsOnly) {
  struct Case {
    const char* value;
    std::optional<int> seconds;
  } cases[] = {
      {"0", 0}, {" 5", 5}, {"120\r", 120}, {"", std::nullopt}, {"-1", std::nullopt},
      {"1.5", std::nullopt}, {"Wed, 21 Oct 2026 07:28:00 GMT", std::nullopt},
      {"99999999999", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(ParseRetryAfter(c.value), c.seconds);
  }
}

TEST(FetchLimits, BoundsSayWhatWasRefused) {
  EXPECT_FALSE(CheckAnnouncedLength(-1, 1024));         // none announced
  EXPECT_FALSE(CheckAnnouncedLength(1024, 1024));       // exactly the bound
  EXPECT_FALSE(CheckAnnouncedLength(1LL << 40, 0));     // no bound
  const auto announced = CheckAnnouncedLength(1025, 1024);
  ASSERT_TRUE(announced);
  EXPECT_EQ(announced->kind, FailureKind::TooLarge);
  EXPECT_EQ(announced->detail, "the server announces 1025 bytes, more than the bound of 1 KiB");
  EXPECT_FALSE(CheckBodyBound(64 << 20, 64 << 20));
  ASSERT_TRUE(CheckBodyBound((64 << 20) + 1, 64 << 20));
  EXPECT_EQ(CheckBodyBound((64 << 20) + 1, 64 << 20)->detail, "the body grew past the bound of 64 MiB");
  EXPECT_EQ(HeaderBlockTooLarge().kind, FailureKind::BadResponse);
  EXPECT_NE(HeaderBlockTooLarge().detail.find("header block too large"), std::string::npos);
  EXPECT_EQ(SizeText(1), "1 byte");
  EXPECT_EQ(SizeText(1000), "1000 bytes");
  EXPECT_EQ(SizeText(3ULL << 30), "3 GiB");
  EXPECT_EQ(SizeText(1536), "1536 bytes");
}

TEST(FetchLimits, HeaderLinesAndLengths) {
  EXPECT_EQ(HeaderLineValue("Content-Length: 42\r\n", "content-length"), "42");
  EXPECT_EQ(HeaderLineValue("RETRY-AFTER:5", "retry-after"), "5");
  EXPECT_FALSE(HeaderLineValue("Content-Length-X: 42", "content-length"));
  EXPECT_FALSE(HeaderLineValue("X-Content-Length: 42", "content-length"));
  EXPECT_EQ(ParseContentLength("0"), 0);
  EXPECT_EQ(ParseContentLength("104857600"), 104857600);
  EXPECT_FALSE(ParseContentLength(""));
  EXPECT_FALSE(ParseContentLength("-1"));
  EXPECT_FALSE(ParseContentLength("12 34"));
  EXPECT_FALSE(ParseContentLength("9999999999999999999999"));
}

// The pace of one transfer, fed as a transfer feeds it: the bytes so far
// at moments after its start.
TEST(TransferPace, SilenceTimesOutAndATrickleIsTooSlow) {
  using std::chrono::milliseconds;
  struct Step {
    int at_ms;
    std::uint64_t body;
    int held_ms = 0;  // the program held the transfer back this long before it
  };
  struct Case {
    const char* name;
    int idle_ms, floor;
    std::vector<Step> steps;
    std::optional<FailureKind> kind;  // at the last step; nothing before it
  } cases[] = {
      {.name = "silence before the first byte", .idle_ms = 1000, .floor = 1024,
       .steps = {{500, 0}, {999, 0}, {1000, 0}}, .kind = FailureKind::Timeout},
      {.name = "silence after some bytes", .idle_ms = 1000, .floor = 0,
       .steps = {{100, 50}, {900, 50}, {1100, 50}}, .kind = FailureKind::Timeout},
      {.name = "a byte every 400 ms, one window after the first",
       .idle_ms = 1000, .floor = 1024,
       .steps = {{100, 1}, {500, 2}, {900, 3}, {1100, 4}}, .kind = FailureKind::TooSlow},
      {.name = "the same trickle without a floor", .idle_ms = 1000, .floor = 0,
       .steps = {{100, 1}, {500, 2}, {900, 3}, {1300, 4}, {1700, 5}, {2100, 6}},
       .kind = std::nullopt},
      {.name = "steady 2 KiB/s over three windows", .idle_ms = 1000, .floor = 1024,
       .steps = {{100, 200}, {600, 1224}, {1100, 2248}, {1600, 3272}, {2100, 4296}, {3100, 6344}},
       .kind = std::nullopt},
      {.name = "a slow window after fast ones", .idle_ms = 1000, .floor = 1024,
       .steps = {{100, 100}, {1100, 20000}, {1600, 20300}, {2100, 20500}},
       .kind = FailureKind::TooSlow},
      {.name = "held back by the run's own rate", .idle_ms = 1000, .floor = 1024,
       .steps = {{100, 100}, {2500, 700, 2000}, {3000, 1400}}, .kind = std::nullopt},
      {.name = "no idle time-out, no floor", .idle_ms = 0, .floor = 1024,
       .steps = {{100, 1}, {60000, 1}, {120000, 2}}, .kind = std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto start = TransferPace::Clock::now();
    TransferPace pace(c.idle_ms, c.floor, start);
    std::optional<Failure> failure;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const Step& step = c.steps[i];
      if (step.held_ms > 0) pace.Held(milliseconds(step.held_ms));
      failure = pace.Check(step.body, step.body, start + milliseconds(step.at_ms));
      if (i + 1 < c.steps.size()) {
        ASSERT_FALSE(failure) << "at " << step.at_ms << " ms: " << Describe(*failure);
      }
    }
    if (!c.kind) {
      EXPECT_FALSE(failure) << Describe(*failure);
    } else {
      ASSERT_TRUE(failure);
      EXPECT_EQ(failure->kind, *c.kind) << Describe(*failure);
    }
  }
}

}  // namespace
}  // namespace folivex
