// What the two systems' simple GET share: the fixed request values, the
// address check, and the wording of the reasons a fetch failed. Each reason
// starts with one of the fixed phrases below, followed by ": " and details.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "text/text.h"

namespace folivex {

inline constexpr char kFetchUserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
// HTTP/1.1: it keeps the connection open between the fetches of one thread,
// which HTTP/1.0 (one connection per fetch) does not.
inline constexpr bool kFetchUsesHttp10 = false;

inline constexpr char kFetchBadAddress[] = "not an http or https address";
inline constexpr char kFetchNoConnection[] = "no connection";
inline constexpr char kFetchTimeout[] = "time-out";
inline constexpr char kFetchNoResponse[] = "no response";
inline constexpr char kFetchReset[] = "connection reset";
inline constexpr char kFetchCutShort[] = "body cut short";
inline constexpr char kFetchSecurity[] = "secure connection failed";

// The address without the part from its first "#"; nothing when it is not
// an http or https address with a host.
std::optional<Text> FetchTarget(const Text& address);

// Empty when `received` matches the announced length (negative: none was
// announced); else the cut-short reason.
std::string CheckLength(std::uint64_t received, long long expected);

}  // namespace folivex
