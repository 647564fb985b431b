#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace folivex {
namespace {

std::string ToHex(std::string_view bytes) {
  std::string hex;
  char buffer[4];
  for (unsigned char c : bytes) {
    std::snprintf(buffer, sizeof buffer, hex.empty() ? "%02X" : " %02X", c);
    hex += buffer;
  }
  return hex;
}

std::string ToHex(std::u16string_view units) {
  std::string hex;
  char buffer[6];
  for (char16_t c : units) {
    std::snprintf(buffer, sizeof buffer, hex.empty() ? "%04X" : " %04X", static_cast<unsigned>(c));
    hex += buffer;
  }
  return hex;
}

// What the Windows conversion gives for well-formed and ill-formed UTF-8,
// shown as UTF-16 code units so that each U+FFFD can be counted.
TEST(Utf8ToUtf16, ReplacesIllFormedSequencesLikeWindows) {
  struct Case {
    const char* name;
    std::string utf8;
    const char* units;
  } cases[] = {
      {"ASCII", "Ab1", "0041 0062 0031"},
      {"zero byte converted like any other", std::string("A\0B", 3), "0041 0000 0042"},
      {"two Chinese characters", "\xE4\xB9\xA6\xE5\x90\x8D", "4E66 540D"},
      {"emoji as a surrogate pair", "\xF0\x9F\x98\x80", "D83D DE00"},
      {"truncated three-byte sequence before ASCII", "\xE4\xB9" "A", "FFFD 0041"},
      {"truncated sequence at the end swallows the rest", "A\xE4" "B", "0041 FFFD"},
      {"overlong C0 80: two replacements", "\xC0\x80", "FFFD FFFD"},
      {"overlong E0 80 80: lead and first byte together", "\xE0\x80\x80", "FFFD FFFD"},
      {"overlong F0 8F BF BF", "\xF0\x8F\xBF\xBF", "FFFD FFFD FFFD"},
      {"encoded surrogate ED A0 80", "\xED\xA0\x80", "FFFD FFFD"},
      {"last code point before the surrogates", "\xED\x9F\xBF", "D7FF"},
      {"lone continuation byte", "\x80" "A", "FFFD 0041"},
      {"five-byte form: one per byte", "\xF8\x88\x80\x80\x80", "FFFD FFFD FFFD FFFD FFFD"},
      {"F5 lead", "\xF5\x80\x80\x80", "FFFD FFFD FFFD FFFD"},
      {"above U+10FFFF: F4 90 together, then each byte", "\xF4\x90\x80\x80",
       "FFFD FFFD FFFD"},
      {"U+10FFFF", "\xF4\x8F\xBF\xBF", "DBFF DFFF"},
      {"non-continuation after a valid second byte", "\xF0\x9F" "AB", "FFFD 0041 0042"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ToHex(Utf8ToUtf16(c.utf8)), c.units);
  }
}

TEST(Utf16ToGbk, EachCodeUnitOnItsOwn) {
  struct Case {
    const char* name;
    std::u16string wide;
    const char* gbk;
  } cases[] = {
      {"two Chinese characters", u"\u4E66\u540D", "CA E9 C3 FB"},
      {"zero unit kept, nothing added", std::u16string(u"A\0B", 3), "41 00 42"},
      {"euro sign", u"\u20AC", "80"},
      {"U+F8F5", u"\uF8F5", "FF"},
      {"private use", u"\uE000\uE4C6\uE865", "AA A1 A1 40 3F"},
      {"look-alikes", u"\u00B2\u00C0\u3232", "32 A8 A4 D3 D0"},
      {"compatibility ideograph to its unified form", u"\uF901", "B8 FC"},
      {"Hangul syllable", u"\uAC00", "3F"},
      {"surrogate pair: one ? per unit", u"\U0001F600", "3F 3F"},
      {"unpaired high surrogate before ASCII", std::u16string{0xD800, u'A'}, "3F 41"},
      {"unpaired low surrogate", std::u16string{0xDC00}, "3F"},
      {"surrogates in the wrong order", std::u16string{0xDC00, 0xD800}, "3F 3F"},
      {"U+FFFD", u"\uFFFD", "3F"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ToHex(Utf16ToGbk(c.wide)), c.gbk);
  }
}

TEST(GbkToUtf16, InvalidPairsAndLoneLeadBytes) {
  struct Case {
    const char* name;
    std::string gbk;
    const char* units;
  } cases[] = {
      {"two Chinese characters", "\xCA\xE9\xC3\xFB", "4E66 540D"},
      {"0x80 is the euro sign", "\x80" "A", "20AC 0041"},
      {"0xFF is U+F8F5", "\xFF" "A", "F8F5 0041"},
      {"user-defined area", "\xAA\xA1\xFE\xFE", "E000 E4C5"},
      {"unassigned position maps to private use", "\xA2\xA0", "E585"},
      {"invalid second byte: one ? for both bytes", "\x81\x30" "A", "003F 0041"},
      {"second byte 7F", "\xA1\x7F", "003F"},
      {"second byte FF", "\xB0\xFF", "003F"},
      {"lead byte before a zero byte", std::string("\xB0\0A", 3), "003F 0000 0041"},
      {"lone lead byte at the end", "A\xB0", "0041 003F"},
      {"zero byte converted like any other", std::string("A\0B", 3), "0041 0000 0042"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ToHex(GbkToUtf16(c.gbk)), c.units);
  }
}

TEST(Utf16ToUtf8, UnpairedSurrogatesBecomeReplacement) {
  struct Case {
    const char* name;
    std::u16string wide;
    const char* utf8;
  } cases[] = {
      {"one to four bytes", u"A\u00E9\u4E66\U0001F600", "41 C3 A9 E4 B9 A6 F0 9F 98 80"},
      {"zero unit kept", std::u16string(u"A\0", 2), "41 00"},
      {"unpaired high surrogate", std::u16string{0xD800, u'A'}, "EF BF BD 41"},
      {"unpaired low surrogate", std::u16string{0xDC00}, "EF BF BD"},
      {"high surrogate at the end", std::u16string{u'A', 0xDBFF}, "41 EF BF BD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ToHex(Utf16ToUtf8(c.wide)), c.utf8);
  }
}

TEST(GbkAndUtf8, ThroughUtf16BothWays) {
  struct Case {
    const char* name;
    std::string gbk;
    std::string utf8;
  } cases[] = {
      {"folder name", "\xCA\xE9\xC3\xFB 1", "\xE4\xB9\xA6\xE5\x90\x8D 1"},
      {"euro sign", "\x80", "\xE2\x82\xAC"},
      {"ASCII with a zero byte", std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ToHex(GbkToUtf8(c.gbk)), ToHex(c.utf8));
    EXPECT_EQ(ToHex(Utf8ToGbkText(c.utf8)), ToHex(c.gbk));
  }
  // A lead byte that stands alone comes back as "?", not as itself.
  EXPECT_EQ(Utf8ToGbkText(GbkToUtf8("A\xB0")), "A?");
}

// Every double-byte code of the code page names a character that converts
// back to the same two bytes; a table that lacks a character breaks this.
TEST(GbkToUtf16, EveryDoubleByteCodeRoundTrips) {
  std::string all;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      all += static_cast<char>(lead);
      all += static_cast<char>(trail);
    }
  }
  const std::u16string wide = GbkToUtf16(all);
  ASSERT_EQ(wide.size() * 2, all.size());
  EXPECT_EQ(wide.find(u'?'), std::u16string::npos);
  EXPECT_EQ(Utf16ToGbk(wide), all);
}

TEST(CodePagePrimitives, SizeQueryThenFill) {
  const char utf8[] = "\xE4\xB9\xA6\0A";  // 5 bytes: a character, a zero, a letter
  ASSERT_EQ(ConvertUtf8ToUtf16(utf8, 5, nullptr, 0), 3);
  char16_t wide[4] = {1, 1, 1, 1};
  EXPECT_EQ(ConvertUtf8ToUtf16(utf8, 5, wide, 3), 3);
  EXPECT_EQ(ToHex(std::u16string_view(wide, 4)), "4E66 0000 0041 0001");  // nothing added
  EXPECT_EQ(ConvertUtf8ToUtf16(utf8, 5, wide, 2), 0);  // too small
  EXPECT_EQ(ConvertUtf8ToUtf16(utf8, 0, nullptr, 0), 0);

  ASSERT_EQ(ConvertUtf16ToGbk(wide, 3, nullptr, 0), 4);
  char gbk[5] = {1, 1, 1, 1, 1};
  EXPECT_EQ(ConvertUtf16ToGbk(wide, 3, gbk, 4), 4);
  EXPECT_EQ(ToHex(std::string_view(gbk, 5)), "CA E9 00 41 01");
  EXPECT_EQ(ConvertUtf16ToGbk(wide, 3, gbk, 3), 0);

  EXPECT_EQ(ConvertGbkToUtf16(gbk, 4, nullptr, 0), 3);
  EXPECT_EQ(ConvertUtf16ToUtf8(wide, 3, nullptr, 0), 5);
}

}  // namespace
}  // namespace folivex
