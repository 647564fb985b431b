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

std::string CheckLength(std::uint64_t received, long long expected) {
  if (expected < 0 || received >= static_cast<std::uint64_t>(expected)) return {};
  return std::string(kFetchCutShort) + ": " + std::to_string(received) + " of " +
         std::to_string(expected) + " bytes";
}

}  // namespace folivex
