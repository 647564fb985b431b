// Text that came from elsewhere (a book's title, a server's answer, a file
// name) made safe to print on a terminal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace folivex {

// `utf8` with everything a terminal would act on instead of showing made
// visible: control characters in caret notation ("^[" for ESC, "^J" for a
// line feed, "^?" for DEL), the C1 controls and the characters that turn
// or break lines (bidirectional overrides, line separators) as "<U+202E>",
// and bytes that are not UTF-8 as U+FFFD. A title cannot move the cursor,
// recolour, clear or rewrite what the program prints, nor start a line of
// its own. Everything else passes unchanged.
std::string TerminalSafeText(std::string_view utf8);

// The columns `utf8` takes on a terminal: two for a wide character (CJK,
// full-width forms, most emoji), none for a combining mark or a joiner,
// one for any other; a byte that is not UTF-8 counts as one column.
std::size_t DisplayWidth(std::string_view utf8);

// The longest start of `utf8` that fits in `columns`, whole characters
// only, so a line cut to the terminal's width never wraps.
std::string_view CutToWidth(std::string_view utf8, std::size_t columns);

// The code point of the UTF-8 sequence at `text[at]`, and `at` moved past
// it; -1 for a byte that starts no well-formed sequence (overlong forms,
// surrogates and values above U+10FFFF included), `at` then moved one byte.
long NextCodePoint(std::string_view text, std::size_t& at);

}  // namespace folivex
