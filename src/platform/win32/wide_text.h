// The one place where the program's code page 936 texts and UTF-8 meet the
// UTF-16 of the Windows W functions. wchar_t is a UTF-16 code unit here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "text/text.h"

namespace folivex {

// Code page 936 -> UTF-16. Bytes that are not valid code page 936 fail the
// conversion (nullopt), so a garbled file name is never used.
std::optional<std::wstring> WidenGbk(std::string_view text);
// As WidenGbk, but bytes that do not convert become "?"; for texts that are
// shown rather than used as names.
std::wstring WidenGbkLossy(std::string_view text);
// UTF-16 -> code page 936, or nothing when a character has no code of its
// own there (no "?" and no look-alike stands in for it).
std::optional<Text> StrictNarrowToGbk(std::wstring_view wide);
// UTF-16 -> code page 936; characters without a code page 936 form become "?".
Text NarrowToGbk(std::wstring_view wide);
// UTF-16 -> UTF-8, for messages.
std::string Utf8(std::wstring_view wide);
std::u16string_view Units(std::wstring_view wide);

}  // namespace folivex
