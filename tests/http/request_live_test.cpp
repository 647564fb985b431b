// HttpRequest against the loopback server, through the system's own Internet
// calls (WinInet on Windows, libcurl elsewhere): what arrives at the server
// and what comes back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "http/request.h"
#include "support/test_server.h"

namespace folivex {
namespace {

std::string AsString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class RequestLive : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Serve("/page", Response::Ok("the page", "text/html"));
    server_.Handle("/echo", [](const RecordedRequest& request) {
      return Response::Ok(request.method + " " + request.body, "text/plain");
    });
    ASSERT_TRUE(server_.Start()) << server_.error();
  }
  std::string Url(const char* path) const { return server_.Url(path); }

  TestServer server_;
};

TEST_F(RequestLive, GetSendsTheFixedHeaderSet) {
  const std::string address = Url("/page?q=1");
  const Bytes body = HttpRequest(address);
  EXPECT_EQ(AsString(body), "the page");
  const auto requests = server_.RequestsFor("/page");
  ASSERT_EQ(requests.size(), 1u);
  const RecordedRequest& seen = requests[0];
  EXPECT_EQ(seen.method, "GET");
  EXPECT_EQ(seen.target, "/page?q=1");
  EXPECT_EQ(seen.version, "HTTP/1.1");
  EXPECT_EQ(seen.Header("User-Agent"), kDefaultUserAgent);
  EXPECT_EQ(seen.Header("Accept"), "*/*");
  EXPECT_EQ(seen.Header("Referer"), address);
  EXPECT_EQ(seen.Header("Accept-Language"), "zh-cn");
  EXPECT_FALSE(seen.HasHeader("Cookie"));
  EXPECT_TRUE(seen.body.empty());
}

TEST_F(RequestLive, VerbsWithABody) {
  struct Case {
    const char* name;
    int method;
    const char* body;
    const char* answer;
    const char* content_type;
  } cases[] = {
      {"POST", 1, "x=1", "POST x=1", "application/x-www-form-urlencoded"},
      {"PUT", 3, "data", "PUT data", ""},
      {"DELETE", 5, "", "DELETE ", ""},
      {"GET ignores the body", 0, "x=1", "GET ", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server_.ClearRequests();
    const Text body_text = c.body;
    const Bytes body = HttpRequest(Url("/echo"), c.method, &body_text);
    EXPECT_EQ(AsString(body), c.answer);
    const auto requests = server_.RequestsFor("/echo");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("Content-Type"), c.content_type);
  }
}

TEST_F(RequestLive, ResponseHeadersAndCookiesComeBack) {
  server_.Serve("/cookies", Response::Ok("c", "text/plain")
                                .WithHeader("Set-Cookie", "a=1; path=/")
                                .WithHeader("Set-Cookie", "b=2")
                                .WithHeader("X-Extra", "yes"));
  Text cookies = "a=0; old=9";
  Text received, headers;
  HttpRequest(Url("/cookies"), 0, nullptr, &cookies, &received, nullptr, &headers);
  EXPECT_EQ(headers.rfind("HTTP/1.1 200", 0), 0u) << headers;
  EXPECT_NE(headers.find("\r\nX-Extra: yes\r\n"), std::string::npos) << headers;
  // An empty line closes the block, as the system's own query gives it.
  ASSERT_GE(headers.size(), 4u);
  EXPECT_EQ(headers.substr(headers.size() - 4), "\r\n\r\n");
  EXPECT_EQ(received, "a=1; b=2; old=9");
  EXPECT_EQ(cookies, received);
  const auto requests = server_.RequestsFor("/cookies");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("Cookie"), "a=0; old=9");
}

// Without a cookie text of its own the request leaves cookies to the
// system, which keeps one set during a redirect and sends it on; with one,
// only the caller's text travels.
TEST_F(RequestLive, SystemCookiesOnlyWithoutACookieText) {
  server_.Serve("/login", Response::Redirect(302, "/check").WithHeader("Set-Cookie", "s=42; path=/"));
  server_.Handle("/check", [](const RecordedRequest& request) {
    return Response::Ok("cookie=" + request.Header("Cookie"), "text/plain");
  });
  EXPECT_EQ(AsString(HttpRequest(Url("/login"))), "cookie=s=42");
  Text cookies = "mine=1";
  EXPECT_EQ(AsString(HttpRequest(Url("/login"), 0, nullptr, &cookies)), "cookie=mine=1");
}

TEST_F(RequestLive, RedirectsFollowedUnlessSwitchedOff) {
  server_.ServeRedirect("/old", 302, "/page");
  Text headers;
  EXPECT_EQ(AsString(HttpRequest(Url("/old"), 0, nullptr, nullptr, nullptr, nullptr, &headers)),
            "the page");
  EXPECT_EQ(headers.rfind("HTTP/1.1 200", 0), 0u) << headers;

  headers.clear();
  HttpRequest(Url("/old"), 0, nullptr, nullptr, nullptr, nullptr, &headers, true);
  EXPECT_EQ(headers.rfind("HTTP/1.1 302", 0), 0u) << headers;
  EXPECT_NE(headers.find("Location: "), std::string::npos) << headers;
  EXPECT_EQ(server_.RequestCount("/page"), 1);
}

// The proxy receives the whole address on the request line. The address
// names a port where nothing listens, so a request that bypassed the proxy
// would fail.
TEST_F(RequestLive, ProxyGetsTheAbsoluteAddress) {
  TestServer proxy;
  proxy.SetFallback([](const RecordedRequest& request) {
    return Response::Ok("via proxy " + request.target, "text/plain");
  });
  ASSERT_TRUE(proxy.Start()) << proxy.error();
  const Text proxy_text = "127.0.0.1:" + std::to_string(proxy.port());
  const Bytes body = HttpRequest("http://127.0.0.1:1/x", 0, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, false, nullptr, &proxy_text);
  EXPECT_EQ(AsString(body), "via proxy http://127.0.0.1:1/x");
}

TEST_F(RequestLive, LargeBodyAndLongHeaderBlockArriveWhole) {
  std::string big;
  for (int i = 0; i < 3 * 1024 * 1024 + 17; ++i) big += static_cast<char>('A' + i % 23);
  Response response = Response::Ok(big, "application/octet-stream");
  for (int i = 0; i < 80; ++i) {
    response.headers.emplace_back("X-Filler-" + std::to_string(i), std::string(90, 'f'));
  }
  response.headers.emplace_back("Set-Cookie", "last=1; path=/");
  server_.Serve("/big", std::move(response));
  Text headers, received;
  const Bytes body = HttpRequest(Url("/big"), 0, nullptr, nullptr, &received, nullptr, &headers);
  EXPECT_EQ(body.size(), big.size());
  EXPECT_TRUE(AsString(body) == big);
  EXPECT_GT(headers.size(), 5000u);
  EXPECT_NE(headers.find("X-Filler-79: "), std::string::npos);
  EXPECT_EQ(received, "last=1");
}

TEST_F(RequestLive, StalledResponseEndsAtTheReceiveTimeOut) {
  Delivery stall;
  stall.fault = Fault::kStall;
  stall.fault_after = 4;
  stall.stall_for = std::chrono::milliseconds(20000);
  server_.Serve("/stall", Response::Ok("abcdefgh", "text/plain").With(stall));
  const auto api = MakeSystemInternetApi({.connect_timeout_ms = 2000, .idle_timeout_ms = 1000});
  const auto started = std::chrono::steady_clock::now();
  const Bytes body = HttpRequest(Url("/stall"), 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 false, nullptr, nullptr, std::nullopt, *api);
  EXPECT_LE(body.size(), 4u);
  std::printf("stalled request returned after %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - started).count()));
}

// The book page goes out exactly as HttpRequest(address) sends it, and
// comes back with its status; judging the status is the caller's business.
TEST_F(RequestLive, BookPageIsTheRoutinesGet) {
  server_.Serve("/missing", Response::HtmlError(404, "Not Found"));
  const std::string address = Url("/page?q=1");
  const HttpRequestResult page = FetchBookPage(address, FetchOptions{});
  EXPECT_TRUE(page.Completed()) << Describe(*page.failure);
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(AsString(page.body), "the page");
  HttpRequest(address);
  const auto requests = server_.RequestsFor("/page");
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].head, requests[1].head);

  const HttpRequestResult missing = FetchBookPage(Url("/missing"), FetchOptions{});
  EXPECT_TRUE(missing.Completed());
  EXPECT_EQ(missing.status, 404);
  EXPECT_FALSE(missing.body.empty());
}

// Every limit of the run's fetch options holds for the book page, whose
// body bound is its own.
TEST_F(RequestLive, BookPageObeysTheFetchOptions) {
  constexpr std::uint64_t kBound = 64 * 1024;
  const std::string block(16 * 1024, 'b');
  auto with = [&](Delivery delivery, std::string body = {}) {
    return Response::Ok(body.empty() ? block : body, "text/html").With(delivery);
  };
  Delivery no_answer;
  no_answer.fault = Fault::kNoAnswer;
  no_answer.stall_for = std::chrono::milliseconds(20000);
  Delivery endless;
  endless.endless = true;
  Delivery announced;
  announced.content_length = 100LL << 20;
  Delivery past_page_bound;
  past_page_bound.content_length = static_cast<long long>(kMaxBookPageBytes) + 1;
  Delivery drip;
  drip.pace_body_only = true;
  drip.drip_bytes = 1;
  drip.drip_interval = std::chrono::milliseconds(100);
  Response long_headers = Response::Ok("page", "text/html");
  for (int i = 0; i < 600; ++i) {
    long_headers.headers.emplace_back("X-Filler-" + std::to_string(i), std::string(512, 'h'));
  }
  struct Case {
    const char* name;
    Response response;
    // 0: FetchBookPage with the run's options; else through Internet calls
    // made with the options and this body bound.
    std::uint64_t bound;
    FailureKind kind;
    std::size_t max_body;
  } cases[] = {
      {.name = "never answers", .response = with(no_answer), .bound = 0,
       .kind = FailureKind::Timeout, .max_body = 0},
      {.name = "drips", .response = with(drip, std::string(300, 'd')), .bound = 0,
       .kind = FailureKind::TooSlow, .max_body = 300},
      {.name = "past the book page's bound", .response = with(past_page_bound), .bound = 0,
       .kind = FailureKind::TooLarge, .max_body = 0},
      {.name = "no end", .response = with(endless), .bound = kBound,
       .kind = FailureKind::TooLarge, .max_body = kBound},
      {.name = "announces 100 MiB", .response = with(announced), .bound = kBound,
       .kind = FailureKind::TooLarge, .max_body = 0},
      {.name = "300 KiB of headers", .response = std::move(long_headers), .bound = 0,
       .kind = FailureKind::BadResponse, .max_body = 0},
  };
  int number = 0;
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = "/limits/" + std::to_string(++number);
    server_.Serve(path, std::move(c.response));
    FetchOptions options;
    options.connect_timeout_ms = 5000;
    options.idle_timeout_ms = 700;
    HttpRequestResult page;
    if (c.bound == 0) {
      page = FetchBookPage(Url(path.c_str()), options);
    } else {
      options.max_body_bytes = c.bound;
      page = FetchBookPage(Url(path.c_str()), options, *MakeSystemInternetApi(options));
    }
    ASSERT_FALSE(page.Completed());
    EXPECT_EQ(page.failure->kind, c.kind) << Describe(*page.failure);
    EXPECT_LE(page.body.size(), c.max_body);
  }
}

TEST(RequestLiveFailure, BookPageThatCannotBeReachedSaysWhy) {
  int port = 0;
  {
    TestServer gone;
    ASSERT_TRUE(gone.Start()) << gone.error();
    port = gone.port();
  }
  const HttpRequestResult refused =
      FetchBookPage("http://127.0.0.1:" + std::to_string(port) + "/", FetchOptions{});
  ASSERT_FALSE(refused.Completed());
  EXPECT_EQ(refused.failure->kind, FailureKind::NoConnection) << Describe(*refused.failure);
  EXPECT_EQ(refused.status, 0);
  EXPECT_TRUE(refused.body.empty());

  const HttpRequestResult empty = FetchBookPage("", FetchOptions{});
  ASSERT_FALSE(empty.Completed());
  EXPECT_EQ(empty.failure->kind, FailureKind::BadAddress);
}

TEST(RequestLiveFailure, RefusedConnectionGivesAnEmptyBody) {
  // A port that was just in use and is now closed refuses connections.
  int port = 0;
  {
    TestServer gone;
    ASSERT_TRUE(gone.Start()) << gone.error();
    port = gone.port();
  }
  Text headers, received = "r", extra;
  const Bytes body = HttpRequest("http://127.0.0.1:" + std::to_string(port) + "/", 0, nullptr,
                                 nullptr, &received, &extra, &headers);
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(received, "");
  EXPECT_FALSE(extra.empty());
}

}  // namespace
}  // namespace folivex
