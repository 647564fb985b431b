#include "platform/terminal_common.h"

#include <charconv>
#include <cstdlib>
#include <string_view>

namespace folivex {

std::optional<int> ColumnsFromEnvironment() {
  const char* value = std::getenv("COLUMNS");
  if (!value) return std::nullopt;
  const std::string_view text(value);
  int columns = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), columns);
  if (error != std::errc() || end != text.data() + text.size() || columns < 1 || columns > 10000) {
    return std::nullopt;
  }
  return columns;
}

}  // namespace folivex
