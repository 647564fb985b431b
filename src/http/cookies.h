// The cookie text a request keeps for itself: the name=value items of the
// Set-Cookie headers of a response, and the merge of those into the items
// sent before. Items are separated by ";" (collected texts use "; ").
#pragma once

#include <string_view>

#include "text/text.h"

namespace folivex {

// The name=value parts of every "Set-Cookie" line of a raw header block
// (lines separated by CR LF), joined with "; "; attributes are left out.
Text CollectSetCookies(std::string_view headers);

// Folds `receivedCookies` into `cookies`: a received item replaces every old
// item of its name, old items of other names follow the received ones, items
// ending in "=deleted" are dropped and exact duplicates removed. Both
// arguments are trimmed in place; `cookies` becomes the merged text, which is
// also returned.
Text MergeCookies(Text& cookies, Text& receivedCookies);

// The trimmed text before the item's first "=" (the whole item without one).
Text CookieName(std::string_view item);
bool ContainsCookieName(const TextArray& items, std::string_view name);
// The parts of `text` between separators, each kept only at its first
// occurrence, joined again with the separator.
Text JoinDistinct(std::string_view text, std::string_view separator);
// The 1-based index of the first item equal to `text`; -1 when none is.
int IndexOfText(const TextArray& items, std::string_view text);

}  // namespace folivex
