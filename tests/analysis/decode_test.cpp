#include "analysis/decode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace folivex {
namespace {

// "E4 B9 A6" -> the three bytes; spaces are ignored.
Bytes Hex(const char* hex) {
  Bytes bytes;
  unsigned value = 0;
  int digits = 0;
  for (const char* p = hex; *p; ++p) {
    if (*p == ' ') continue;
    const char c = *p;
    value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    if (++digits == 2) {
      bytes.push_back(static_cast<std::uint8_t>(value));
      value = 0;
      digits = 0;
    }
  }
  return bytes;
}

std::string ToHex(const std::string& text) {
  std::string hex;
  char buffer[4];
  for (unsigned char c : text) {
    std::snprintf(buffer, sizeof buffer, hex.empty() ? "%02X" : " %02X", c);
    hex += buffer;
  }
  return hex;
}

// The page as fetched (UTF-8, or whatever the server sent) and the code page
// 936 text it must give, byte for byte, on every system. The ill-formed rows
// are what the Windows conversion makes of them: one "?" per U+FFFD.
TEST(Utf8ToGbk, PageBytesToCodePage936) {
  struct Case {
    const char* name;
    const char* page;
    const char* text;
  } cases[] = {
      {"empty page", "", ""},
      {"two Chinese characters", "E4 B9 A6 E5 90 8D", "CA E9 C3 FB"},
      {"ASCII markup, tabs and line ends unchanged",
       "3C 74 69 74 6C 65 3E 41 62 63 20 31 32 33 3C 2F 74 69 74 6C 65 3E 09 0D 0A",
       "3C 74 69 74 6C 65 3E 41 62 63 20 31 32 33 3C 2F 74 69 74 6C 65 3E 09 0D 0A"},
      {"full-width space and digits", "E3 80 80 EF BC 91 EF BC 92", "A1 A1 A3 B1 A3 B2"},
      {"zero byte ends the text", "41 E4 B9 A6 00 E5 90 8D 42", "41 CA E9"},
      {"page starting with a zero byte is empty", "00 41 42 43", ""},
      // Characters outside the code page.
      {"Hangul syllable becomes ?", "41 EA B0 80 42", "41 3F 42"},
      {"emoji is a surrogate pair: two ?", "41 F0 9F 98 80 42", "41 3F 3F 42"},
      {"euro sign has the single byte 80", "E2 82 AC 31", "80 31"},
      {"U+F8F5 has the single byte FF", "EF A3 B5", "FF"},
      {"private use U+E000 is user-defined AAA1", "EE 80 80", "AA A1"},
      {"superscript two becomes its look-alike 2", "C2 B2", "32"},
      {"middle dot", "C2 B7", "A1 A4"},
      // Ill-formed UTF-8.
      {"truncated sequence inside the page", "E4 B9 41", "3F 41"},
      {"two-byte lead before ASCII", "C3 41", "3F 41"},
      {"truncated sequence at the end", "41 E4 B9", "41 3F"},
      {"cut-off sequence at the end takes what follows it", "41 F0 9F 41", "41 3F"},
      {"lone lead byte at the end", "41 C3", "41 3F"},
      {"overlong two-byte form C0 AF", "C0 AF 41", "3F 3F 41"},
      {"overlong C1 BF", "C1 BF", "3F 3F"},
      {"overlong three-byte form", "E0 80 AF 41", "3F 3F 41"},
      {"overlong four-byte form", "F0 80 80 AF 41", "3F 3F 3F 41"},
      {"encoded high surrogate ED A0 80", "ED A0 80 41", "3F 3F 41"},
      {"encoded surrogate pair", "ED A0 BD ED B8 80", "3F 3F 3F 3F"},
      {"lone continuation bytes", "80 BF 41", "3F 3F 41"},
      {"five-byte form", "F8 88 80 80 80 41", "3F 3F 3F 3F 3F 41"},
      {"six-byte form", "FC 84 80 80 80 80 41", "3F 3F 3F 3F 3F 3F 41"},
      {"bytes F5 to FF", "F5 F6 F7 FE FF 41", "3F 3F 3F 3F 3F 41"},
      {"above U+10FFFF", "F4 90 80 80 41", "3F 3F 3F 41"},
      {"largest code point U+10FFFF", "F4 8F BF BF", "3F 3F"},
      {"a code page 936 page instead of UTF-8", "CA E9 C3 FB 41", "3F 3F 3F 3F 41"},
      {"JPEG header up to its first zero byte", "FF D8 FF E0 00 10 4A 46 49 46 00",
       "3F 3F 3F 3F"},
      {"JPEG body bytes", "FF C0 11 08 01 E0 02 80 03 01 22 C4 B5 E4 F1 9C",
       "3F 3F 11 08 01 3F 02 3F 03 01 22 3F 3F 3F"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ToHex(Utf8ToGbk(Hex(c.page))), ToHex(BytesToText(Hex(c.text))));
  }
}

TEST(Utf8ToGbk, LargePageOfMixedText) {
  // Long runs of ASCII and Chinese with ill-formed bytes between them, so
  // the fast ASCII path and the careful path hand over to each other.
  const std::string chunk = "<p>\xE4\xB9\xA6\xE5\x90\x8D: Folivex 123</p>\x80\r\n";
  const std::string expected = "<p>\xCA\xE9\xC3\xFB: Folivex 123</p>?\r\n";
  Bytes page;
  std::string want;
  for (int i = 0; i < 20000; ++i) {
    page.insert(page.end(), chunk.begin(), chunk.end());
    want += expected;
  }
  EXPECT_EQ(Utf8ToGbk(page), want);
}

}  // namespace
}  // namespace folivex
