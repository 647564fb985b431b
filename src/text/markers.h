// Cutting a piece out of a text by the fixed marker texts around it.
#pragma once

#include <optional>
#include <string_view>

#include "text/text.h"

namespace folivex {

// The five bytes "#引号" that callers may write in a marker of ExtractBetween
// to stand for a double quote.
inline constexpr std::string_view kQuotePlaceholder = "#\xD2\xFD\xBA\xC5";

// The bytes between the first `left` (at or after `start`) and the next
// `right` after it; empty when either is missing. Placeholders in the markers
// become double quotes first.
Text ExtractBetween(std::string_view text, std::string_view left,
                    std::string_view right,
                    std::optional<int> start = std::nullopt,
                    bool ignoreCase = false);
// The bytes after the first `left` and before the first `right` that follows
// it; markers are used unchanged and matched exactly.
Text ExtractBetweenFirst(std::string_view text, std::string_view left,
                         std::string_view right);
// Everything before the first `marker` found at or after `start`.
Text TextBeforeMarker(std::string_view text, std::string_view marker,
                      std::optional<int> start = std::nullopt,
                      bool ignoreCase = false);
// The trimmed text after the first colon.
Text TextAfterColon(std::string_view text);

}  // namespace folivex
