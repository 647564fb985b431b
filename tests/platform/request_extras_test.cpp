#include "platform/request_extras.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace folivex {
namespace {

constexpr long long kNow = 1700000000;

TEST(CookieFile, SendsOnlyTheCookiesThatMatchTheRequest) {
  const std::string file =
      "# Netscape HTTP Cookie File\n"
      "\n"
      ".shop.test\tTRUE\t/\tFALSE\t0\tsession\ts1\n"
      "#HttpOnly_books.test\tFALSE\t/\tFALSE\t2000000000\tlogin\tok\r\n"
      "books.test\tFALSE\t/reader\tFALSE\t0\tpath\tp\n"
      "books.test\tFALSE\t/\tTRUE\t0\tsecure\ty\n"
      "books.test\tFALSE\t/\tFALSE\t1600000000\told\tgone\n"
      "books.test\tFALSE\t/\tFALSE\t0\tempty\n"
      "# books.test\tFALSE\t/\tFALSE\t0\tcommented\tout\n"
      "broken line without tabs\n";
  const std::vector<FileCookie> cookies = ParseCookieFile(file);
  ASSERT_EQ(cookies.size(), 6u);
  EXPECT_EQ(cookies[1].domain, "books.test");
  EXPECT_EQ(cookies[1].name, "login");

  struct Case {
    const char* name;
    const char* address;
    const char* header;
  } cases[] = {
      {.name = "host only, not its subdomain", .address = "http://www.books.test/x", .header = ""},
      {.name = "path prefix ends at a slash", .address = "http://books.test/readers", .header = "login=ok; empty="},
      {.name = "inside the path", .address = "http://BOOKS.test:8080/reader/1.jpg?x=1",
       .header = "login=ok; path=p; empty="},
      {.name = "secure over https", .address = "https://books.test/", .header = "login=ok; secure=y; empty="},
      {.name = "subdomains included", .address = "http://a.b.shop.test/", .header = "session=s1"},
      {.name = "the domain itself", .address = "http://shop.test", .header = "session=s1"},
      {.name = "a lookalike domain", .address = "http://evilshop.test/", .header = ""},
      {.name = "not http", .address = "ftp://books.test/", .header = ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CookieHeaderFor(cookies, c.address, kNow), c.header) << c.name;
  }
}

TEST(ProxyChoice, FollowsTheEnvironmentAsCurlDoes) {
  std::map<std::string, std::string> env;
  const auto get = [&](const char* name) -> std::optional<std::string> {
    const auto it = env.find(name);
    if (it == env.end()) return std::nullopt;
    return it->second;
  };
  struct Case {
    const char* name;
    std::map<std::string, std::string> env;
    std::string explicit_proxy;
    const char* address;
    const char* proxy;
  } cases[] = {
      {.name = "nothing set", .env = {}, .address = "http://a.test/", .proxy = ""},
      {.name = "http_proxy for http", .env = {{"http_proxy", "p:1"}}, .address = "http://a.test/",
       .proxy = "http://p:1"},
      {.name = "HTTP_PROXY is not read", .env = {{"HTTP_PROXY", "p:1"}}, .address = "http://a.test/", .proxy = ""},
      {.name = "https in either case", .env = {{"HTTPS_PROXY", "http://s:2"}}, .address = "https://a.test/",
       .proxy = "http://s:2"},
      {.name = "lower case wins", .env = {{"https_proxy", "http://l:3"}, {"HTTPS_PROXY", "http://u:4"}},
       .address = "https://a.test/", .proxy = "http://l:3"},
      {.name = "ALL_PROXY as the fallback", .env = {{"ALL_PROXY", "http://all:5"}}, .address = "https://a.test/",
       .proxy = "http://all:5"},
      {.name = "no_proxy domain", .env = {{"all_proxy", "http://all:5"}, {"no_proxy", "x.test, .a.test"}},
       .address = "http://www.a.test/", .proxy = ""},
      {.name = "no_proxy is not a suffix match", .env = {{"all_proxy", "http://all:5"}, {"NO_PROXY", "a.test"}},
       .address = "http://bba.test/", .proxy = "http://all:5"},
      {.name = "no_proxy star", .env = {{"http_proxy", "http://p:1"}, {"no_proxy", "*"}},
       .address = "http://a.test/", .proxy = ""},
      {.name = "the option wins", .env = {{"http_proxy", "http://p:1"}}, .explicit_proxy = "http://o:9",
       .address = "http://a.test/", .proxy = "http://o:9"},
      {.name = "no_proxy holds for the option too", .env = {{"no_proxy", "127.0.0.1"}},
       .explicit_proxy = "http://o:9", .address = "http://127.0.0.1:8080/", .proxy = ""},
  };
  for (const Case& c : cases) {
    env = c.env;
    ProxySettings settings = ProxySettingsFromEnvironment(get);
    settings.explicit_proxy = c.explicit_proxy;
    EXPECT_EQ(ProxyFor(settings, c.address), c.proxy) << c.name;
  }
  ProxySettings off;
  off.explicit_proxy = "http://o:9";
  EXPECT_EQ(ProxyFor(off, "http://a.test/"), "") << "not enabled: direct";
}

TEST(RateLimit, SpreadsTheBytesOfAllTransfersOverTime) {
  RateLimit limit(1000);  // bytes per second
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(limit.Reserve(500, start), std::chrono::milliseconds(500));
  // A second transfer at the same moment waits behind the first.
  EXPECT_EQ(limit.Reserve(500, start), std::chrono::milliseconds(1000));
  // Idle time is not saved up for a later burst.
  const auto later = start + std::chrono::seconds(10);
  EXPECT_EQ(limit.Reserve(100, later), std::chrono::milliseconds(100));
}

TEST(RequestSlots, NeverLetMoreThanTheBoundThrough) {
  RequestSlots slots(3);
  std::atomic<int> inside{0}, most{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 12; ++i) {
    threads.emplace_back([&] {
      RequestSlots::Hold hold(&slots, 0);
      const int now = ++inside;
      int seen = most.load();
      while (now > seen && !most.compare_exchange_weak(seen, now)) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      --inside;
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_LE(most.load(), 3);
  EXPECT_GE(most.load(), 1);
}

// A slot set free goes to the lowest rank waiting, and within a rank to
// the one that came first.
TEST(RequestSlots, HandOutByRankThenByArrival) {
  RequestSlots slots(1);
  slots.Acquire(0);
  struct Arrival {
    const char* name;
    std::int64_t rank;
  } arrivals[] = {{"a", 3}, {"b", 1}, {"c", 2}, {"d", 1}, {"e", 0}};
  std::mutex lock;
  std::string order;
  std::vector<std::thread> threads;
  for (const Arrival& arrival : arrivals) {
    const std::size_t before = slots.Waiting();
    threads.emplace_back([&, arrival] {
      RequestSlots::Hold hold(&slots, arrival.rank);
      std::lock_guard guard(lock);
      order += arrival.name;
    });
    while (slots.Waiting() == before) std::this_thread::yield();
  }
  slots.Release();
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(order, "ebdca");
  const std::int64_t earlier = slots.NextRank();
  EXPECT_LT(earlier, slots.NextRank());
}

}  // namespace
}  // namespace folivex
