#include "http/cookies.h"

#include "text/markers.h"

namespace folivex {

namespace {

constexpr std::string_view kDeletedSuffix = "=deleted";

}  // namespace

Text CollectSetCookies(std::string_view headers) {
  Text result;
  for (const Text& line : SplitText(headers, "\r\n")) {
    // Header names are matched in exactly this spelling.
    if (TextBeforeMarker(line, ": ") != "Set-Cookie") continue;
    const Text value =
        FindText(line, ";") != -1
            ? TrimBoth(ExtractBetween(line, "Set-Cookie:", ";"))
            : TrimBoth(ReplaceText(line, "Set-Cookie:", std::nullopt, std::nullopt,
                                   std::nullopt, /*caseSensitive=*/false));
    result += value;
    result += "; ";
  }
  return TextLeft(result, TextLength(result) - 2);
}

Text MergeCookies(Text& cookies, Text& receivedCookies) {
  cookies = TrimBoth(cookies);
  receivedCookies = TrimBoth(receivedCookies);
  const TextArray old_items = SplitText(cookies, ";");
  TextArray items = SplitText(receivedCookies, ";");
  // Checked against the growing list: of several old items of one name only
  // the first is carried over.
  for (const Text& old_item : old_items) {
    if (!ContainsCookieName(items, CookieName(old_item))) items.push_back(old_item);
  }
  Text merged;
  for (const Text& item : items) {
    if (TextRight(item, 8) == kDeletedSuffix) continue;
    merged += item;
    merged += ';';
  }
  merged = TextLeft(merged, TextLength(merged) - 1);
  merged = JoinDistinct(merged, ";");
  cookies = merged;
  return merged;
}

Text CookieName(std::string_view item) {
  const int p = FindText(item, "=");
  return TrimBoth(p != -1 ? TextLeft(item, p - 1) : Text(item));
}

bool ContainsCookieName(const TextArray& items, std::string_view name) {
  for (const Text& item : items) {
    if (CookieName(item) == name) return true;
  }
  return false;
}

Text JoinDistinct(std::string_view text, std::string_view separator) {
  TextArray seen;
  Text result;
  for (const Text& part : SplitText(text, separator)) {
    if (IndexOfText(seen, part) != -1) continue;
    seen.push_back(part);
    result += part;
    result += separator;
  }
  return TextLeft(result, TextLength(result) - TextLength(separator));
}

int IndexOfText(const TextArray& items, std::string_view text) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i] == text) return static_cast<int>(i + 1);
  }
  return -1;
}

}  // namespace folivex
