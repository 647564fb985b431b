// What the two systems' simple GET and Internet calls share: the fixed
// request values, the address check, the length checks, the Retry-After
// value, and the limits every transfer is held to (body bound, header block
// bound, idle time-out and rate floor).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/failure.h"
#include "platform/services.h"
#include "text/text.h"

namespace folivex {

inline constexpr char kFetchUserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
// HTTP/1.1: it keeps the connection open between the fetches of one thread,
// which HTTP/1.0 (one connection per fetch) does not.
inline constexpr bool kFetchUsesHttp10 = false;

// The largest header block of one response that is read, as much as a
// browser takes. Real servers send a few kilobytes; more is a broken or
// hostile server, and is reported as such rather than as lack of memory.
inline constexpr std::size_t kMaxHeaderBlockBytes = 256 * 1024;

// The address without the part from its first "#"; nothing when it is not
// an http or https address with a host.
std::optional<Text> FetchTarget(const Text& address);

// Empty when `received` matches the announced length (negative: none was
// announced); else the cut-short failure.
std::optional<Failure> CheckLength(std::uint64_t received, long long expected);

// Too large when the response announces a body longer than `bound` (0: no
// bound; a negative length: none announced), before any of it is read.
std::optional<Failure> CheckAnnouncedLength(long long announced, std::uint64_t bound);
// Too large once `received` body bytes pass `bound` (0: no bound).
std::optional<Failure> CheckBodyBound(std::uint64_t received, std::uint64_t bound);
// The failure of a response whose header block passes kMaxHeaderBlockBytes
// (or the system's own limit).
Failure HeaderBlockTooLarge();

// "64 MiB", "300 KiB", "1000 bytes": a size for people.
std::string SizeText(std::uint64_t bytes);

// The value of a header line ("Name: value", any case of the name, CR LF
// or not) when its name is `name`; nothing for another line.
std::optional<std::string_view> HeaderLineValue(std::string_view line, std::string_view name);

// The number of a Content-Length value; nothing when it is not a plain
// decimal number that fits.
std::optional<long long> ParseContentLength(std::string_view value);

// The seconds of a Retry-After value given as a number of seconds; nothing
// for a date or anything else (the caller then keeps its own pause).
std::optional<int> ParseRetryAfter(std::string_view value);

// Watches a transfer's progress against the idle time-out and the rate
// floor of its FetchOptions. The transfer reports the bytes moved so far
// whenever they may have changed and at least about once a second; the
// first failure it gets back is why it must stop.
//   time-out: nothing moved for the idle time-out;
//   too slow: from the first body byte on, a whole window of the idle
//             time-out brought fewer than min_bytes_per_second x window.
class TransferPace {
 public:
  using Clock = std::chrono::steady_clock;
  TransferPace(int idle_timeout_ms, int min_bytes_per_second, Clock::time_point start);
  // `moved`: bytes moved so far (never less than before); `body`: body bytes
  // received so far, which start the rate windows.
  std::optional<Failure> Check(std::uint64_t moved, std::uint64_t body, Clock::time_point now);
  // The program itself held the transfer back for `held` (the run's rate
  // limit): that time counts neither as silence nor against the rate.
  void Held(Clock::duration held);

 private:
  std::chrono::milliseconds idle_;
  int floor_;
  std::uint64_t last_moved_ = 0;
  Clock::time_point last_progress_;
  bool windows_started_ = false;
  Clock::time_point window_start_;
  std::uint64_t window_start_body_ = 0;
};

}  // namespace folivex
