// Turning a book title into the name of one folder level that every file
// system of both platforms accepts.
#pragma once

#include "text/text.h"

namespace folivex {

// The longest folder name made, in code page 936 bytes. Chinese characters
// take 3 bytes in UTF-8, so 150 bytes stay below the 255-byte limit of
// Linux file systems and the 255 UTF-16 units of Windows ones.
inline constexpr int kMaxFolderNameBytes = 150;

// A safe single folder name for `title`: path separators, drive colons,
// the characters : * ? " < > |, control characters, trailing dots and
// spaces and device names are replaced (by their full-width forms where
// there is one), never dropped, so different titles stay different. A
// name that would be too long is cut at a character boundary and given a
// short hash of the whole title. An empty title, or one of only question
// marks and spaces (characters the page's code page could not hold), gives
// a name derived from `address` instead.
Text SafeFolderName(const Text& title, const Text& address);

}  // namespace folivex
