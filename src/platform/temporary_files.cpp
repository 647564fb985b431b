// The names of temporary files, built and read in one place, and the
// removal of those that ended runs left behind.
#include <chrono>
#include <cstdint>
#include <random>
#include <string>

#include "platform/codepage.h"
#include "platform/services.h"

namespace folivex {
namespace {

constexpr std::string_view kMarker = ".part-";
// The target's name is cut to this many bytes inside a temporary's name, so
// that the temporary of a long name stays within the file systems' limits.
constexpr std::size_t kNameBytesKept = 40;
constexpr std::size_t kRunDigits = 8;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f'); }

// 8 hex digits, drawn once per process. The random device is mixed with the
// clock and the process id: some C runtimes give the same "random" numbers
// in every process.
const std::string& RunToken() {
  static const std::string token = [] {
    std::uint64_t seed = 0;
    try {
      std::random_device device;
      seed = (static_cast<std::uint64_t>(device()) << 32) ^ device();
    } catch (...) {
      // No random device: the clock and the pid still differ between runs.
    }
    seed ^= static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    seed ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) << 17;
    seed ^= static_cast<std::uint64_t>(ProcessId()) << 40;
    // splitmix64: every bit of the seed reaches every digit.
    seed += 0x9E3779B97F4A7C15ull;
    seed = (seed ^ (seed >> 30)) * 0xBF58476D1CE4E5B9ull;
    seed = (seed ^ (seed >> 27)) * 0x94D049BB133111EBull;
    seed ^= seed >> 31;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string digits;
    for (std::size_t i = 0; i < kRunDigits; ++i) digits += kHex[(seed >> (4 * i)) & 0xF];
    return digits;
  }();
  return token;
}

// The decimal number at `at`, up to the next "-" or the end; nothing when
// there is no digit or it does not fit.
std::optional<std::uint32_t> NumberAt(std::string_view text, std::size_t& at) {
  const std::size_t start = at;
  std::uint64_t value = 0;
  while (at < text.size() && IsDigit(text[at])) {
    value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
    if (value > 0xFFFFFFFFu) return std::nullopt;
    ++at;
  }
  if (at == start) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

// Where the name part of `path` starts: after the last separator that is a
// character of its own. On Windows both slashes separate, and 0x5C may be
// the second byte of a character.
std::size_t NameStart(const Text& path) {
  const bool backslash = PathSeparator() == "\\";
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (StartsGbkPair(path, i)) {
      ++i;
    } else if (path[i] == '/' || (backslash && path[i] == '\\')) {
      start = i + 1;
    }
  }
  return start;
}

}  // namespace

Text TemporaryFileName(const Text& name, std::uint32_t counter) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < name.size();) {
    const std::size_t size = StartsGbkPair(name, i) ? 2 : 1;
    if (i + size > kNameBytesKept) break;
    i += size;
    kept = i;
  }
  return ConcatText(".", name.substr(0, kept), kMarker, std::to_string(ProcessId()), "-", RunToken(), "-",
                    std::to_string(counter));
}

std::optional<TemporaryName> ParseTemporaryFileName(const Text& file_name) {
  if (file_name.size() < 2 || file_name[0] != '.') return std::nullopt;
  const std::size_t marker = file_name.rfind(kMarker);
  if (marker == Text::npos || marker == 0) return std::nullopt;
  // After the marker: the pid, "-", the run's 8 hex digits (absent in the
  // names of older versions), "-", the counter, nothing else.
  const std::string_view rest = std::string_view(file_name).substr(marker + kMarker.size());
  std::size_t at = 0;
  TemporaryName parts;
  const std::optional<std::uint32_t> pid = NumberAt(rest, at);
  if (!pid || *pid > 0x7FFFFFFF || at >= rest.size() || rest[at] != '-') return std::nullopt;
  parts.pid = static_cast<int>(*pid);
  ++at;
  if (rest.size() - at > kRunDigits && rest[at + kRunDigits] == '-') {
    for (std::size_t i = 0; i < kRunDigits; ++i) {
      if (!IsHexDigit(rest[at + i])) return std::nullopt;
    }
    parts.run = std::string(rest.substr(at, kRunDigits));
    at += kRunDigits + 1;
  }
  const std::optional<std::uint32_t> counter = NumberAt(rest, at);
  if (!counter || at != rest.size()) return std::nullopt;
  parts.counter = *counter;
  return parts;
}

bool IsThisRunsTemporary(const TemporaryName& name) {
  return name.pid == ProcessId() && name.run == RunToken();
}

Text FolderOfPath(const Text& path) { return path.substr(0, NameStart(path)); }

void RemoveLeftoverTemporaries(const Text& folder) {
  for (const Text& name : ListFiles(folder.empty() ? Text(".") : folder)) {
    const std::optional<TemporaryName> parts = ParseTemporaryFileName(name);
    if (!parts || IsThisRunsTemporary(*parts)) continue;
    const bool separated = NameStart(folder) == folder.size();
    RemoveFileNobodyWrites(ConcatText(folder, separated ? "" : PathSeparator(), name));
  }
}

}  // namespace folivex
