// What a run may add to each request beside the address: cookies from a
// cookies.txt file, the proxy to go through, and a rate limit shared by
// every transfer. Both systems' fetch use these; the choices are made here
// once, without any network code.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace folivex {

// One line of a Netscape cookies.txt file.
struct FileCookie {
  std::string domain;       // without a leading "."
  bool include_subdomains = false;
  std::string path = "/";
  bool secure = false;      // sent over https only
  long long expires = 0;    // seconds since 1970; 0: for the session (always sent)
  std::string name, value;
};

// The cookies of a cookies.txt text: seven tab-separated fields per line
// (domain, include-subdomains flag, path, secure flag, expiry, name, value);
// a "#HttpOnly_" prefix on the domain is dropped, other "#" lines and blank
// lines are skipped, and so are lines without the fields.
std::vector<FileCookie> ParseCookieFile(std::string_view text);

// The parts of an http or https address that requests are matched on.
struct AddressParts {
  bool secure = false;  // https
  std::string host;     // lower-cased, without port or user
  std::string path;     // from the first "/", without query; "/" when none
};
std::optional<AddressParts> SplitAddress(std::string_view address);

// The Cookie header value for a request to `address` at `now` (seconds
// since 1970): the matching cookies as "a=1; b=2", in file order; empty
// when none matches.
std::string CookieHeaderFor(const std::vector<FileCookie>& cookies, std::string_view address,
                            long long now);

// The proxies a run goes through. Empty texts: none.
struct ProxySettings {
  bool enabled = false;   // false: every request goes direct
  std::string explicit_proxy;  // --proxy; wins over the environment's
  std::string http_proxy, https_proxy, all_proxy;
  std::string no_proxy;   // hosts reached directly: "example.com,.lan,10.0.0.1" or "*"
};

// The environment's proxies as curl reads them: http_proxy (lower case
// only: a web server hands a request's "Proxy:" header to its programs as
// HTTP_PROXY), https_proxy or HTTPS_PROXY, all_proxy or ALL_PROXY, no_proxy
// or NO_PROXY; the lower-case name wins. `get` returns nothing for an unset
// variable.
ProxySettings ProxySettingsFromEnvironment(
    const std::function<std::optional<std::string>(const char*)>& get);

// The proxy for a request to `address` ("http://host:port"; a proxy given
// without a scheme is taken as http), or empty for a direct request.
std::string ProxyFor(const ProxySettings& settings, std::string_view address);

// Whether `host` is one that `no_proxy` names: "*", the host itself or a
// domain it lies in (a leading "." is allowed), without regard to case.
bool HostBypassesProxy(std::string_view host, std::string_view no_proxy);

// A rate shared by every transfer of a run: each takes what it received
// and is made to wait until the run is back under the rate. Thread-safe.
class RateLimit {
 public:
  explicit RateLimit(std::int64_t bytes_per_second);
  // Accounts `bytes` received and sleeps as long as the run is ahead.
  void Take(std::size_t bytes);
  // The pause Take would make, without sleeping (for tests and callers
  // that wait their own way).
  std::chrono::microseconds Reserve(std::size_t bytes, std::chrono::steady_clock::time_point now);
  std::int64_t bytes_per_second() const { return rate_; }

 private:
  std::int64_t rate_;
  std::mutex mutex_;
  // The moment the bytes accounted so far may all have arrived.
  std::chrono::steady_clock::time_point due_{};
};

// A bound on the requests in flight across everything that shares it:
// every fetch holds a slot while it talks to a server. A slot set free goes
// straight to the waiter of the lowest rank, and among equal ranks to the
// one that has waited longest; only that waiter is woken. Thread-safe.
class RequestSlots {
 public:
  explicit RequestSlots(int slots) : free_(slots < 1 ? 1 : slots) {}
  void Acquire(std::int64_t rank = 0);
  void Release();
  // A rank after every one handed out before (the first is 1).
  std::int64_t NextRank();
  // The Acquire calls waiting now.
  std::size_t Waiting();

  // Holds a slot for its lifetime; nothing when there are no slots.
  class Hold {
   public:
    Hold(RequestSlots* slots, std::int64_t rank) : slots_(slots) {
      if (slots_) slots_->Acquire(rank);
    }
    ~Hold() {
      if (slots_) slots_->Release();
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    RequestSlots* slots_;
  };

 private:
  // One waiting Acquire, on its own stack; Release hands it the slot.
  struct Waiter {
    std::condition_variable turn;
    bool granted = false;
  };
  std::mutex mutex_;
  int free_;  // never above 0 while anyone waits
  std::int64_t last_rank_ = 0;
  std::uint64_t arrivals_ = 0;
  // By rank, then by arrival.
  std::map<std::pair<std::int64_t, std::uint64_t>, Waiter*> waiting_;
};

}  // namespace folivex
