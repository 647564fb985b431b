// Turning a book title into the name of one folder level that every file
// system of both platforms accepts.
#pragma once

#include <string_view>

#include "text/text.h"

namespace folivex {

// The longest folder name made, counted as each file system counts: Linux
// file systems take 255 bytes of UTF-8, Windows ones 255 UTF-16 units. The
// name stays well below both, so that the PDF named after it (".pdf"
// added) fits as well, and a Windows path of program folder, name and page
// file stays short. Both bounds hold on both systems, so a book gets the
// same folder name on either.
inline constexpr int kMaxFolderNameUtf8Bytes = 240;
inline constexpr int kMaxFolderNameUtf16Units = 150;

// A safe single folder name for `title` (code page 936): path separators,
// drive colons, the characters : * ? " < > |, control characters, a
// leading dot, trailing dots and spaces and device names are replaced (by
// their full-width forms where there is one), never dropped, so different
// titles stay different; bytes that name no character become "_". A name
// that would be too long once everything is replaced is cut at a character
// boundary and given a short hash of the whole title. An empty title, or
// one of only question marks and spaces (characters the page's code page
// could not hold), gives a name derived from `address` instead.
Text SafeFolderName(const Text& title, const Text& address);

// `name`, a name SafeFolderName made, with `suffix` (ASCII, no character a
// name may not hold) added at its end: the name is cut at a character
// boundary as far as needed for the whole to stay within both bounds.
Text FolderNameWithSuffix(const Text& name, std::string_view suffix);

}  // namespace folivex
