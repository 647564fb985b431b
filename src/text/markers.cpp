#include "text/markers.h"

namespace folivex {

namespace {

Text WithQuotes(std::string_view marker) {
  return ReplaceText(marker, kQuotePlaceholder, std::string_view("\""), std::nullopt,
                     std::nullopt, /*caseSensitive=*/true);
}

}  // namespace

Text ExtractBetween(std::string_view text, std::string_view left, std::string_view right,
                    std::optional<int> start, bool ignoreCase) {
  const Text left2 = WithQuotes(left);
  const Text right2 = WithQuotes(right);
  int c = FindText(text, left2, start.value_or(0), ignoreCase);
  if (c == -1) return {};
  c += TextLength(left2);
  const int d = FindText(text, right2, c, ignoreCase);
  if (d == -1) return {};
  return TextMid(text, c, d - c);
}

Text ExtractBetweenFirst(std::string_view text, std::string_view left,
                         std::string_view right) {
  const int a = FindText(text, left);
  if (a == -1) return {};
  // Everything after the first left marker, viewed rather than copied: the
  // page texts this runs on are megabytes long.
  const std::size_t after = static_cast<std::size_t>(a - 1) + left.size();
  const std::string_view rest = after < text.size() ? text.substr(after) : std::string_view();
  const int b = FindText(rest, right);
  if (b <= 1) return {};
  return Text(rest.substr(0, static_cast<std::size_t>(b - 1)));
}

Text TextBeforeMarker(std::string_view text, std::string_view marker,
                      std::optional<int> start, bool ignoreCase) {
  const int from = start && *start >= 1 ? *start : 1;
  const int c = FindText(text, marker, from, ignoreCase);
  if (c == -1) return {};
  return TextLeft(text, c - 1);
}

Text TextAfterColon(std::string_view text) {
  const int p = FindText(text, ":");
  if (p == -1) return {};
  return TrimBoth(TextRight(text, TextLength(text) - p));
}

}  // namespace folivex
