// What the two systems' simple GET share: the fixed request values, the
// address check, the length check and the Retry-After value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/failure.h"
#include "text/text.h"

namespace folivex {

inline constexpr char kFetchUserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
// HTTP/1.1: it keeps the connection open between the fetches of one thread,
// which HTTP/1.0 (one connection per fetch) does not.
inline constexpr bool kFetchUsesHttp10 = false;


// The address without the part from its first "#"; nothing when it is not
// an http or https address with a host.
std::optional<Text> FetchTarget(const Text& address);

// Empty when `received` matches the announced length (negative: none was
// announced); else the cut-short failure.
std::optional<Failure> CheckLength(std::uint64_t received, long long expected);

// The seconds of a Retry-After value given as a number of seconds; nothing
// for a date or anything else (the caller then keeps its own pause).
std::optional<int> ParseRetryAfter(std::string_view value);

}  // namespace folivex
