// The guard of a libcurl transfer: whatever the program's own handling of
// a header line or a body piece throws, std::bad_alloc among others, stays
// on this side of curl's C code; the transfer stops with a failure.
#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/posix/curl_support.h"
#include "support/test_server.h"

namespace folivex {
namespace {

TEST(CurlGuard, WhatTheSinksThrowStopsTheTransfer) {
  TestServer server;
  server.Serve("/page", Response::Ok(std::string(200000, 'p'), "image/jpeg"));
  ASSERT_TRUE(server.Start()) << server.error();
  struct Case {
    const char* name;
    GuardedTransfer::Sinks sinks;
    const char* detail;
  } cases[] = {
      {.name = "body out of memory",
       .sinks = {.header = {}, .body = [](std::string_view) { throw std::bad_alloc(); }},
       .detail = "out of memory"},
      {.name = "header line throws",
       .sinks = {.header = [](std::string_view) { throw std::runtime_error("odd"); }, .body = {}},
       .detail = "internal error"},
  };
  EnsureCurlGlobalInit();
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    CurlEasy easy(curl_easy_init());
    ASSERT_TRUE(easy);
    const std::string url = server.Url("/page");
    curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy.get(), CURLOPT_PROXY, "");
    GuardedTransfer transfer(FetchOptions{}, std::move(c.sinks));
    transfer.Install(easy.get());
    const CURLcode code = curl_easy_perform(easy.get());
    const std::optional<Failure> failure = transfer.FailureAfter(code, "");
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->kind, FailureKind::Other);
    EXPECT_EQ(failure->detail, c.detail);
  }
}

// The announced length reaches the owner only for the response whose body
// it keeps, and never beyond the bound: it sizes the owner's storage.
TEST(CurlGuard, AnnouncedLengthOnlyForTheKeptBodyAndWithinTheBound) {
  TestServer server;
  server.Serve("/page", Response::Ok(std::string(200000, 'p'), "image/jpeg"));
  server.ServeRedirect("/moved", 302, "/page");
  ASSERT_TRUE(server.Start()) << server.error();
  struct Case {
    const char* name;
    const char* path;
    std::uint64_t bound;
    std::vector<std::uint64_t> announced;
    bool fails;
  } cases[] = {
      {.name = "plain", .path = "/page", .bound = 0, .announced = {200000}, .fails = false},
      {.name = "after a redirect", .path = "/moved", .bound = 0, .announced = {200000},
       .fails = false},
      {.name = "at the bound", .path = "/page", .bound = 200000, .announced = {200000},
       .fails = false},
      {.name = "beyond the bound", .path = "/page", .bound = 199999, .announced = {},
       .fails = true},
  };
  EnsureCurlGlobalInit();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CurlEasy easy(curl_easy_init());
    ASSERT_TRUE(easy);
    const std::string url = server.Url(c.path);
    curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy.get(), CURLOPT_PROXY, "");
    curl_easy_setopt(easy.get(), CURLOPT_FOLLOWLOCATION, 1L);
    FetchOptions limits;
    limits.max_body_bytes = c.bound;
    std::vector<std::uint64_t> announced;
    std::size_t received = 0;
    GuardedTransfer transfer(limits, {.header = {},
                                      .body = [&](std::string_view piece) { received += piece.size(); },
                                      .announced = [&](std::uint64_t n) { announced.push_back(n); }});
    transfer.Install(easy.get());
    const CURLcode code = curl_easy_perform(easy.get());
    EXPECT_EQ(announced, c.announced);
    EXPECT_EQ(transfer.FailureAfter(code, "").has_value(), c.fails);
    if (!c.fails) {
      EXPECT_EQ(received, 200000u);
    }
  }
}

}  // namespace
}  // namespace folivex
