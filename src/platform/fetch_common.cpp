#include "platform/fetch_common.h"

#include <algorithm>

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

std::optional<Failure> CheckAnnouncedLength(long long announced, std::uint64_t bound) {
  if (bound == 0 || announced < 0 || static_cast<std::uint64_t>(announced) <= bound) {
    return std::nullopt;
  }
  return Failure{FailureKind::TooLarge, "the server announces " + std::to_string(announced) +
                                            " bytes, more than the bound of " + SizeText(bound)};
}

std::optional<Failure> CheckBodyBound(std::uint64_t received, std::uint64_t bound) {
  if (bound == 0 || received <= bound) return std::nullopt;
  return Failure{FailureKind::TooLarge, "the body grew past the bound of " + SizeText(bound)};
}

Failure HeaderBlockTooLarge() {
  return Failure{FailureKind::BadResponse,
                 "header block too large (the bound is " + SizeText(kMaxHeaderBlockBytes) + ")"};
}

std::string SizeText(std::uint64_t bytes) {
  constexpr std::uint64_t kKiB = 1024, kMiB = kKiB * 1024, kGiB = kMiB * 1024;
  if (bytes >= kGiB && bytes % kGiB == 0) return std::to_string(bytes / kGiB) + " GiB";
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  if (bytes >= kKiB && bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::optional<std::string_view> HeaderLineValue(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || line[name.size()] != ':') return std::nullopt;
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (lower(line[i]) != lower(name[i])) return std::nullopt;
  }
  std::string_view value = line.substr(name.size() + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r' ||
                            value.back() == '\n')) {
    value.remove_suffix(1);
  }
  return value;
}

std::optional<long long> ParseContentLength(std::string_view value) {
  if (value.empty() || value.size() > 18) return std::nullopt;
  long long number = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  return number;
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

TransferPace::TransferPace(int idle_timeout_ms, int min_bytes_per_second, Clock::time_point start)
    : idle_(std::max(0, idle_timeout_ms)),
      floor_(idle_timeout_ms > 0 ? std::max(0, min_bytes_per_second) : 0),
      last_progress_(start) {}

void TransferPace::Held(Clock::duration held) {
  last_progress_ += held;
  if (windows_started_) window_start_ += held;
}

std::optional<Failure> TransferPace::Check(std::uint64_t moved, std::uint64_t body,
                                           Clock::time_point now) {
  if (moved != last_moved_) {
    last_moved_ = moved;
    last_progress_ = now;
  } else if (idle_.count() > 0 && now - last_progress_ >= idle_) {
    return Failure{FailureKind::Timeout, "no data for " + std::to_string(idle_.count()) + " ms"};
  }
  if (floor_ == 0 || body == 0) return std::nullopt;
  if (!windows_started_) {
    windows_started_ = true;
    window_start_ = now;
    window_start_body_ = body;
    return std::nullopt;
  }
  const auto elapsed = now - window_start_;
  if (elapsed < idle_) return std::nullopt;
  const auto elapsed_ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  const std::uint64_t needed = static_cast<std::uint64_t>(floor_) *
                               static_cast<std::uint64_t>(idle_.count()) / 1000;
  const std::uint64_t got = body - window_start_body_;
  if (got < needed) {
    return Failure{FailureKind::TooSlow, std::to_string(got) + " bytes in " +
                                             std::to_string(elapsed_ms) + " ms, below " +
                                             std::to_string(floor_) + " bytes a second"};
  }
  window_start_ = now;
  window_start_body_ = body;
  return std::nullopt;
}

}  // namespace folivex
