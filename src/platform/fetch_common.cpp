#include "platform/fetch_common.h"

namespace folivex {

std::optional<Text> FetchTarget(const Text& address) {
  Text target = address.substr(0, address.find('#'));
  const Text lower = ToLower(target);
  std::size_t host_start = 0;
  if (lower.rfind("http://", 0) == 0) {
    host_start = 7;
  } else if (lower.rfind("https://", 0) == 0) {
    host_start = 8;
  } else {
    return std::nullopt;
  }
  if (host_start >= target.size() || target[host_start] == '/' || target[host_start] == ':') {
    return std::nullopt;
  }
  return target;
}

std::optional<Failure> CheckLength(std::uint64_t received, long long expected) {
  if (expected < 0 || received >= static_cast<std::uint64_t>(expected)) return std::nullopt;
  return Failure{FailureKind::CutShort,
                 std::to_string(received) + " of " + std::to_string(expected) + " bytes"};
}

std::optional<int> ParseRetryAfter(std::string_view value) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r')) {
    value.remove_suffix(1);
  }
  if (value.empty() || value.size() > 9) return std::nullopt;
  int seconds = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    seconds = seconds * 10 + (c - '0');
  }
  return seconds;
}

}  // namespace folivex
