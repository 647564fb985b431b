// Which failures are worth asking again for, and how they read.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace folivex
