// Conversions between UTF-8, UTF-16 and code page 936 (GBK), at the edge
// where the program's code page 936 texts meet the operating system: the
// Windows W functions take UTF-16, Linux file names and terminals take UTF-8.
//
// Both systems give the same bytes for every input. Windows converts with
// its own functions; elsewhere an iconv-based layer repeats what they do:
//  - ill-formed UTF-8 becomes U+FFFD, one for each lead byte and the
//    continuation bytes it could still take, or one for each stray byte;
//    a sequence cut off by the end of the input swallows the rest of it;
//  - UTF-16 going to code page 936 is converted one code unit at a time:
//    a character without a code of its own takes its look-alike where the
//    code page has one (U+00B2 -> "2"), else "?"; a character outside the
//    Basic Multilingual Plane is a surrogate pair and becomes "??";
//  - code page 936 coming back: 0x80 is the euro sign and 0xFF is U+F8F5;
//    a lead byte with an invalid second byte becomes one "?" for both, a
//    lead byte before a zero byte or at the end becomes "?" by itself;
//  - UTF-16 going to UTF-8: an unpaired surrogate becomes U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace folivex {

// Whether the byte at `at` starts a double-byte character as the code page
// itself reads it: a lead byte 0x81..0xFE followed by a second byte
// 0x40..0xFE other than 0x7F. Any other byte stands alone: ASCII, 0x80 (the
// euro sign), 0xFF, or a lead byte without a valid second byte, which names
// no character. File and folder names are walked by this rule, so that a
// "/" or a control byte after 0x80 is never taken for half of a character.
inline bool StartsGbkPair(std::string_view text, std::size_t at) {
  if (at + 1 >= text.size()) return false;
  const auto lead = static_cast<unsigned char>(text[at]);
  const auto second = static_cast<unsigned char>(text[at + 1]);
  return lead >= 0x81 && lead <= 0xFE && second >= 0x40 && second <= 0xFE && second != 0x7F;
}

// The primitives are shaped like MultiByteToWideChar/WideCharToMultiByte
// with flags 0: the input length is explicit (a zero byte or unit is
// converted like any other and nothing is added at the end); a capacity of
// 0 returns the size the output needs; otherwise the output is filled and
// its size returned, or 0 when it does not fit. An empty or negative input
// length gives 0. Sizes count UTF-16 code units or bytes.
int ConvertUtf8ToUtf16(const char* input, int length, char16_t* output, int capacity);
int ConvertUtf16ToUtf8(const char16_t* input, int length, char* output, int capacity);
int ConvertUtf16ToGbk(const char16_t* input, int length, char* output, int capacity);
int ConvertGbkToUtf16(const char* input, int length, char16_t* output, int capacity);

// Whole-string forms. Zero bytes travel through like any other character.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view wide);
std::string Utf16ToGbk(std::u16string_view wide);
std::u16string GbkToUtf16(std::string_view gbk);
// Code page 936 text <-> UTF-8, through UTF-16.
std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbkText(std::string_view utf8);

}  // namespace folivex
