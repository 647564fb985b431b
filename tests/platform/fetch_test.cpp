// The simple GET against the loopback server: what it sends, what it hands
// back, and the reason it gives when the exchange breaks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/services.h"
#include "support/system_expectations.h"
#include "support/test_server.h"

namespace folivex {
namespace {

std::string AsString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string Why(const FetchResult& result) {
  return result.failure ? Describe(*result.failure) : "completed";
}

class FetchLive : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()) << server_.error(); }
  TestServer server_;
};

TEST_F(FetchLive, SendsAPlainGetWithoutTheFragment) {
  server_.Serve("/files/1.jpg", Response::Ok("jpeg bytes", "image/jpeg"));
  const FetchResult result = Fetch(server_.Url("/files/1.jpg?v=2#page=3"));
  EXPECT_TRUE(result.Completed()) << Why(result);
  EXPECT_EQ(result.status, 200);
  EXPECT_EQ(AsString(result.body), "jpeg bytes");
  EXPECT_EQ(result.content_type, "image/jpeg");
  const auto requests = server_.RequestsFor("/files/1.jpg");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/files/1.jpg?v=2");
  EXPECT_EQ(requests[0].Header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)");
  EXPECT_EQ(requests[0].Header("Accept"), "*/*");
  EXPECT_NE(requests[0].Header("Cache-Control") + requests[0].Header("Pragma"), "");
  EXPECT_EQ(FetchUrl(server_.Url("/files/1.jpg")), result.body);
}

TEST_F(FetchLive, BodyWhateverTheStatus) {
  struct Case {
    const char* name;
    int status;
    const char* body;
  } cases[] = {
      {"not found", 404, "no such page"},
      {"server error", 500, "broken"},
      {"no content", 204, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = "/status/" + std::to_string(c.status);
    server_.Serve(path, Response::Status(c.status, c.body));
    const FetchResult result = Fetch(server_.Url(path));
    EXPECT_TRUE(result.Completed()) << Why(result);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(AsString(result.body), c.body);
  }
}

TEST_F(FetchLive, FollowsRedirects) {
  server_.Serve("/new", Response::Ok("moved here", "text/plain"));
  server_.ServeRedirect("/old", 301, "/new");
  const FetchResult result = Fetch(server_.Url("/old"));
  EXPECT_EQ(result.status, 200);
  EXPECT_EQ(AsString(result.body), "moved here");
}

TEST_F(FetchLive, BrokenExchangesSayWhy) {
  const std::string body(20000, 'b');
  auto with = [&](Fault fault, std::size_t after) {
    Delivery delivery;
    delivery.fault = fault;
    delivery.fault_after = after;
    delivery.stall_for = std::chrono::milliseconds(15000);
    return Response::Ok(body, "application/octet-stream").With(delivery);
  };
  struct Case {
    const char* name;
    Response response;
    FailureKind kind;
    std::optional<FailureKind> other_kind;  // where the system may see it either way
    std::size_t max_body;
  } cases[] = {
      // WinInet under Wine at times takes the reset for the end of the
      // stream; the length check then catches it.
      {"reset mid-body", with(Fault::kReset, 5000), FailureKind::Reset, FailureKind::CutShort, 5000},
      {"cut short", with(Fault::kCutShort, 5000), FailureKind::CutShort, std::nullopt, 5000},
      {"stall mid-body", with(Fault::kStall, 5000), FailureKind::Timeout, std::nullopt, 5000},
      {"no answer", with(Fault::kNoAnswer, 0), FailureKind::Timeout, std::nullopt, 0},
      {"closed without a byte", with(Fault::kCloseAtOnce, 0), FailureKind::NoResponse, std::nullopt, 0},
  };
  FetchOptions options;
  options.connect_timeout_ms = 5000;
  options.idle_timeout_ms = 700;
  int number = 0;
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = "/fault/" + std::to_string(++number);
    server_.Serve(path, std::move(c.response));
    const FetchResult result = Fetch(server_.Url(path), options);
    ASSERT_FALSE(result.Completed());
    EXPECT_TRUE(result.failure->kind == c.kind || result.failure->kind == c.other_kind) << Why(result);
    // Every one of these can heal: the download asks again.
    EXPECT_TRUE(Retryable(*result.failure)) << Why(result);
    EXPECT_LE(result.body.size(), c.max_body);
    // Whatever came before the fault is handed back.
    EXPECT_EQ(AsString(result.body), body.substr(0, result.body.size()));
  }
}

// A body is never held beyond the bound: a larger announced length is
// refused before any of it is read, a body without a length is stopped as
// it passes the bound, and one of exactly the bound is fine.
TEST_F(FetchLive, BodiesAreHeldToTheBound) {
  constexpr std::uint64_t kBound = 64 * 1024;
  const std::string block(16 * 1024, 'b');
  Delivery endless;
  endless.endless = true;
  Delivery lying;
  lying.content_length = 100LL << 20;
  struct Case {
    const char* name;
    Response response;
    std::optional<FailureKind> kind;  // nothing: the fetch completes
    std::size_t max_body;
  } cases[] = {
      {.name = "exactly the bound",
       .response = Response::Ok(std::string(kBound, 'e'), "image/jpeg"),
       .kind = std::nullopt,
       .max_body = kBound},
      {.name = "one byte over, announced",
       .response = Response::Ok(std::string(kBound + 1, 'o'), "image/jpeg"),
       .kind = FailureKind::TooLarge,
       .max_body = 0},
      {.name = "100 MiB announced, little sent",
       .response = Response::Ok(block, "image/jpeg").With(lying),
       .kind = FailureKind::TooLarge,
       .max_body = 0},
      {.name = "no length, no end",
       .response = Response::Ok(block, "image/jpeg").With(endless),
       .kind = FailureKind::TooLarge,
       .max_body = kBound},
      {.name = "an error page without end",
       .response = Response::Status(500, block).With(endless),
       .kind = FailureKind::TooLarge,
       .max_body = kBound},
  };
  FetchOptions options;
  options.idle_timeout_ms = 5000;
  options.max_body_bytes = kBound;
  int number = 0;
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = "/bound/" + std::to_string(++number);
    server_.Serve(path, std::move(c.response));
    const FetchResult result = Fetch(server_.Url(path), options);
    EXPECT_LE(result.body.size(), c.max_body);
    if (!c.kind) {
      EXPECT_TRUE(result.Completed()) << Why(result);
      EXPECT_EQ(result.body.size(), kBound);
      continue;
    }
    ASSERT_FALSE(result.Completed());
    EXPECT_EQ(result.failure->kind, *c.kind) << Why(result);
    EXPECT_NE(result.failure->detail.find("64 KiB"), std::string::npos) << Why(result);
    // Asking again brings the same body.
    EXPECT_FALSE(Retryable(*result.failure));
  }
}

// The idle time-out restarts with every byte; the rate floor ends a body
// that keeps dripping, while a slow but steady one arrives whole.
TEST_F(FetchLive, ADrippingBodyIsGivenUpAsTooSlow) {
  Delivery drip;
  drip.pace_body_only = true;
  drip.drip_bytes = 1;
  drip.drip_interval = std::chrono::milliseconds(100);
  // 30 s of drip: without the floor the fetch would end complete.
  server_.Serve("/drip", Response::Ok(std::string(300, 'd'), "image/jpeg").With(drip));
  Delivery steady;
  steady.pace_body_only = true;
  steady.bytes_per_second = 24 * 1024;
  const std::string steady_body(24 * 1024, 's');
  server_.Serve("/steady", Response::Ok(steady_body, "image/jpeg").With(steady));

  FetchOptions options;
  options.idle_timeout_ms = 600;
  options.min_bytes_per_second = 1024;
  const FetchResult dripped = Fetch(server_.Url("/drip"), options);
  ASSERT_FALSE(dripped.Completed());
  EXPECT_EQ(dripped.failure->kind, FailureKind::TooSlow) << Why(dripped);
  EXPECT_TRUE(Retryable(*dripped.failure));
  EXPECT_LT(dripped.body.size(), 300u);

  const FetchResult arrived = Fetch(server_.Url("/steady"), options);
  EXPECT_TRUE(arrived.Completed()) << Why(arrived);
  EXPECT_EQ(AsString(arrived.body), steady_body);
}

// A header block beyond what any server sends says so, rather than
// blaming memory or the connection; a large but sane one arrives.
TEST_F(FetchLive, OversizedHeaderBlockIsABadResponse) {
  auto with_headers = [](int lines, std::size_t each) {
    Response response = Response::Ok("body", "image/jpeg");
    for (int i = 0; i < lines; ++i) {
      response.headers.emplace_back("X-Filler-" + std::to_string(i), std::string(each, 'h'));
    }
    return response;
  };
  enum class Outcome { Completes, Refused, EitherWay };
  struct Case {
    const char* name;
    Response response;
    Outcome outcome;
  } cases[] = {
      {.name = "64 KiB in 640 lines", .response = with_headers(640, 90), .outcome = Outcome::Completes},
      {.name = "300 KiB in 600 lines", .response = with_headers(600, 512), .outcome = Outcome::Refused},
      // WinInet keeps the start of so long a line and drops the rest.
      {.name = "360 KiB in four lines", .response = with_headers(4, 90 * 1024), .outcome = Outcome::EitherWay},
      {.name = "one line of 300 KiB", .response = with_headers(1, 300 * 1024), .outcome = Outcome::EitherWay},
  };
  int number = 0;
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = "/headers/" + std::to_string(++number);
    server_.Serve(path, std::move(c.response));
    FetchOptions options;
    options.idle_timeout_ms = 5000;
    const FetchResult result = Fetch(server_.Url(path), options);
    if (c.outcome == Outcome::Completes ||
        (c.outcome == Outcome::EitherWay && result.Completed())) {
      EXPECT_TRUE(result.Completed()) << Why(result);
      EXPECT_EQ(AsString(result.body), "body");
      continue;
    }
    ASSERT_FALSE(result.Completed());
    EXPECT_EQ(result.failure->kind, FailureKind::BadResponse) << Why(result);
    EXPECT_NE(Why(result).find("header block too large"), std::string::npos) << Why(result);
    EXPECT_FALSE(Retryable(*result.failure));
  }
}

// A declared length that does not match the body, the connection closed
// after it: a longer declaration is a cut body on every system; a shorter
// one is read up to the declaration or, on a system that reads to the close,
// whole.
TEST_F(FetchLive, ContentLengthThatDoesNotMatchTheBody) {
  const std::string body(6000, 'c');
  struct Case {
    const char* name;
    long long declared;
    bool completed;
    std::size_t received;
  } cases[] = {
      {"declared too long", 6100, false, 6000},
      {"declared too short", 5900, true,
       System().reads_past_short_content_length ? std::size_t{6000} : std::size_t{5900}},
  };
  int number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = "/length/" + std::to_string(++number);
    server_.Serve(path, Response::Ok(body, "application/octet-stream")
                            .With({.content_length = c.declared}));
    const FetchResult result = Fetch(server_.Url(path));
    EXPECT_EQ(result.Completed(), c.completed) << Why(result);
    if (!c.completed) {
      EXPECT_EQ(result.failure->kind, FailureKind::CutShort) << Why(result);
    }
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(AsString(result.body), body.substr(0, c.received));
  }
}

TEST(FetchFailure, NoConnectionAndBadAddresses) {
  int port = 0;
  {
    TestServer gone;
    ASSERT_TRUE(gone.Start()) << gone.error();
    port = gone.port();
  }
  const FetchResult refused = Fetch("http://127.0.0.1:" + std::to_string(port) + "/x");
  EXPECT_EQ(refused.status, 0);
  ASSERT_FALSE(refused.Completed());
  EXPECT_EQ(refused.failure->kind, FailureKind::NoConnection) << Why(refused);
  EXPECT_TRUE(refused.body.empty());
  for (const char* address : {"", "ftp://127.0.0.1/x", "127.0.0.1/x", "http://", "#http://a/"}) {
    SCOPED_TRACE(address);
    const FetchResult bad = Fetch(address);
    ASSERT_FALSE(bad.Completed());
    EXPECT_EQ(bad.failure->kind, FailureKind::BadAddress) << Why(bad);
    EXPECT_FALSE(Retryable(*bad.failure));
    EXPECT_TRUE(FetchUrl(address).empty());
  }
}

// The download fetches pages on several threads at once.
TEST_F(FetchLive, ManyThreadsAtOnce) {
  server_.HandlePrefix("/p/", [](const RecordedRequest& request) {
    return Response::Ok("page " + request.path, "image/jpeg");
  });
  constexpr int kThreads = 8;
  constexpr int kEach = 15;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const std::string path = "/p/" + std::to_string(t) + "-" + std::to_string(i);
        const FetchResult result = Fetch(server_.Url(path));
        if (!result.Completed() || AsString(result.body) != "page " + path) ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(server_.TotalRequests(), kThreads * kEach);
}

}  // namespace
}  // namespace folivex
