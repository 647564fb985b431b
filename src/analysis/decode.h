// Page text decoding: the fetched book page, taken to be UTF-8, as a code
// page 936 text.
#pragma once

#include "text/text.h"

namespace folivex {

// Converts through UTF-16 with two exactly sized buffers. Characters that
// code page 936 cannot hold become a look-alike or "?" (one "?" per UTF-16
// code unit, so "??" for a character beyond U+FFFF); ill-formed UTF-8 is
// replaced the same way. The text ends before the first zero byte. Never
// fails: anything that converts to nothing gives the empty text.
Text Utf8ToGbk(const Bytes& page);

}  // namespace folivex
