#include <cctype>

#include "platform/services.h"

namespace folivex {

std::optional<int> TemporaryFileOwner(const Text& file_name) {
  if (file_name.size() < 2 || file_name[0] != '.') return std::nullopt;
  const std::size_t part = file_name.rfind(".part-");
  if (part == Text::npos || part == 0) return std::nullopt;
  // After ".part-": the pid, "-", the counter, nothing else.
  std::size_t i = part + 6;
  long long pid = 0;
  const std::size_t pid_start = i;
  while (i < file_name.size() && std::isdigit(static_cast<unsigned char>(file_name[i]))) {
    pid = pid * 10 + (file_name[i] - '0');
    if (pid > 0x7FFFFFFF) return std::nullopt;
    ++i;
  }
  if (i == pid_start || i >= file_name.size() || file_name[i] != '-') return std::nullopt;
  const std::size_t counter_start = ++i;
  while (i < file_name.size() && std::isdigit(static_cast<unsigned char>(file_name[i]))) ++i;
  if (i == counter_start || i != file_name.size()) return std::nullopt;
  return static_cast<int>(pid);
}

}  // namespace folivex
