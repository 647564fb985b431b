// Texts that came from a server (titles, reasons) made safe to print: a
// terminal takes control characters as commands, so a title holding ESC
// sequences could move the cursor, recolour or hide what follows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace folivex {

// The code point of the UTF-8 sequence at `text[at]`, and `at` moved past
// it; -1 for a byte that starts no valid sequence (overlong forms,
// surrogates and values above U+10FFFF included), `at` then moved one byte.
long NextCodePoint(std::string_view text, std::size_t& at);

// `text` with every control character (C0, DEL, C1) shown as a visible
// escape such as \x1b or \u009b, and every byte that is not valid UTF-8 as
// \xNN. Everything else, backslashes too, stays as it is.
std::string TerminalSafe(std::string_view text);

}  // namespace folivex
