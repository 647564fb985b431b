#include "text/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <optional>
#include <random>

namespace folivex {
namespace {

// Byte literals: "\xB0\x41" is one double-byte character whose second byte
// happens to be the letter A; a hex escape swallows every hex digit after it,
// hence the split literals below.

TEST(FindText, MatchesOnlyAtCharacterStartsOfTheRegion) {
  struct Case {
    const char* name;
    std::string_view text;
    std::string_view sub;
    std::optional<int> start;
    bool ignore_case;
    int expected;
  } cases[] = {
      {"start omitted", "abcabc", "c", std::nullopt, false, 3},
      {"start 0", "abcabc", "c", 0, false, 3},
      {"start negative", "abcabc", "c", -5, false, 3},
      {"start after first hit", "abcabc", "c", 4, false, 6},
      {"start on the hit", "abcabc", "c", 6, false, 6},
      {"start one past the end", "abcabc", "c", 7, false, -1},
      {"start far past the end", "abcabc", "c", INT_MAX, false, -1},
      {"empty sub, start 5", "abcabc", "", 5, false, 1},
      {"empty sub, empty text", "", "", std::nullopt, false, -1},
      {"empty sub, start past the end", "abc", "", 4, false, -1},
      {"sub longer than text", "ab", "abc", std::nullopt, false, -1},
      {"second byte of a double-byte char", "\xB0\x41" "A", "A", std::nullopt, false, 3},
      {"walk begins on a second byte", "\xB0\x41" "A", "A", 2, false, 2},
      {"even run of high bytes", "\xB0\xA1\xB0\xA1" "A", "A", std::nullopt, false, 5},
      {"odd run of high bytes", "\xB0\xB0\xB0" "A", "A", std::nullopt, false, -1},
      {"high run then ascii trail", "\xB0\xB0\xB0" "AA", "A", std::nullopt, false, 5},
      {"sub straddling two characters", "\xC4\xE3\xBA\xC3", "\xE3\xBA", std::nullopt, false, -1},
      {"lone lead byte is tested", "ab\xB0", "\xB0", std::nullopt, false, 3},
      {"header name in other case, ignored", "Host: x\r\nuser-agent: y", "User-Agent:",
       std::nullopt, true, 10},
      {"header name in other case, exact", "Host: x\r\nuser-agent: y", "User-Agent:",
       std::nullopt, false, -1},
      {"folding reaches second bytes", "\xB0\x61", "\xB0\x41", std::nullopt, true, 1},
      {"folding only A to Z", "\xC0", "\xE0", std::nullopt, true, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FindText(c.text, c.sub, c.start, c.ignore_case), c.expected);
  }
}

TEST(FindText, LongTextOfHighBytesStaysCorrect) {
  // 100000 double-byte characters whose second byte is 'A', then an 'A'.
  Text text;
  for (int i = 0; i < 100000; ++i) text += "\xB0\x41";
  text += "A";
  EXPECT_EQ(FindText(text, "A"), TextLength(text));
  EXPECT_EQ(FindTextReverse(text, "A"), TextLength(text));
  EXPECT_EQ(ReplaceText(text, "A", std::string_view("x")), Text(text, 0, text.size() - 1) + "x");
  EXPECT_EQ(SplitText(text, "A").size(), 1u);
}

TEST(FindTextReverse, FindsTheLastOccurrenceWhollyBeforeStart) {
  struct Case {
    const char* name;
    std::string_view text;
    std::string_view sub;
    std::optional<int> start;
    int expected;
  } cases[] = {
      {"start omitted", "a.b.c", ".", std::nullopt, 4},
      {"start 1", "a.b.c", ".", 1, -1},
      {"start 0", "a.b.c", ".", 0, -1},
      {"start negative", "a.b.c", ".", -3, -1},
      {"previous result as start", "a.b.c", ".", 4, 2},
      {"first occurrence as start", "a.b.c", ".", 2, -1},
      {"dot at the last byte, start = length", "abcdefghi.", ".", 10, -1},
      {"dot at the last byte, start = length + 1", "abcdefghi.", ".", 11, 10},
      {"start far past the end", "abcdefghi.", ".", INT_MAX, 10},
      {"occurrence reaching start is left out", "abcd", "bc", 3, -1},
      {"occurrence ending before start", "abcd", "bc", 4, 2},
      {"dot as a second byte", "x.\xB0.", ".", std::nullopt, 2},
      {"empty sub", "abc", "", std::nullopt, 1},
      {"empty sub, start 1", "abc", "", 1, -1},
      {"empty text", "", ".", std::nullopt, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FindTextReverse(c.text, c.sub, c.start), c.expected);
  }
}

TEST(Cutting, ClampsCountsAndPositions) {
  struct Case {
    const char* name;
    Text actual;
    Text expected;
  } cases[] = {
      {"left beyond length", TextLeft("abc", 5), "abc"},
      {"left 0", TextLeft("abc", 0), ""},
      {"left negative", TextLeft("abc", -1), ""},
      {"left divides a double-byte char", TextLeft("\xB0\xA1", 1), "\xB0"},
      {"right beyond length", TextRight("abc", 5), "abc"},
      {"right 2", TextRight("abc", 2), "bc"},
      {"right negative", TextRight("abc", -2), ""},
      {"mid beyond the end", TextMid("abc", 2, 10), "bc"},
      {"mid at the last byte", TextMid("abc", 3, 1), "c"},
      {"mid start 0", TextMid("abc", 0, 2), ""},
      {"mid start negative", TextMid("abc", -1, 2), ""},
      {"mid start past the end", TextMid("abc", 4, 1), ""},
      {"mid count 0", TextMid("abc", 1, 0), ""},
      {"mid count negative", TextMid("abc", 1, -3), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.actual, c.expected);
  }
}

TEST(ReplaceText, ScansOnceLeftToRightAlongTheCharacters) {
  struct Case {
    const char* name;
    std::string_view text;
    std::string_view sub;
    std::optional<std::string_view> replacement;
    std::optional<int> start;
    std::optional<int> count;
    bool case_sensitive;
    Text expected;
  } cases[] = {
      {"omitted replacement removes", "a,b,,c", ",", std::nullopt, std::nullopt, std::nullopt, true,
       "abc"},
      {"inserted text is not searched again", "aaa", "a", "aa", std::nullopt, std::nullopt, true,
       "aaaaaa"},
      {"occurrences do not overlap", "aaa", "aa", "b", std::nullopt, std::nullopt, true, "ba"},
      {"empty sub", "abc", "", "x", std::nullopt, std::nullopt, true, "abc"},
      {"empty text", "", "a", "x", std::nullopt, std::nullopt, true, ""},
      {"ignoring case removes capitals", "SET-COOKIE: a=1", "Set-Cookie:", std::nullopt,
       std::nullopt, std::nullopt, false, " a=1"},
      {"exact case keeps capitals", "SET-COOKIE: a=1", "Set-Cookie:", std::nullopt, std::nullopt,
       std::nullopt, true, "SET-COOKIE: a=1"},
      {"second byte is not replaced", "\xB0\x41" "A", "A", "x", std::nullopt, std::nullopt, true,
       "\xB0\x41" "x"},
      {"start skips earlier bytes", "abab", "a", "x", 2, std::nullopt, true, "abxb"},
      {"start 0 is the first byte", "abab", "a", "x", 0, std::nullopt, true, "xbxb"},
      {"start past the end", "abab", "a", "x", 5, std::nullopt, true, "abab"},
      {"start on a second byte", "\xB0\x41\x41", "A", "x", 2, std::nullopt, true, "\xB0xx"},
      {"count limits", "aaaa", "a", "b", std::nullopt, 2, true, "bbaa"},
      {"count 0", "aaaa", "a", "b", std::nullopt, 0, true, "aaaa"},
      {"negative count is no limit", "aaaa", "a", "b", std::nullopt, -1, true, "bbbb"},
      {"lone lead byte dropped by a one-byte walk", "ab\xB0", "x", "y", std::nullopt, std::nullopt,
       true, "ab"},
      {"lone lead byte kept by a longer sub", "ab\xB0", "xy", "z", std::nullopt, std::nullopt, true,
       "ab\xB0"},
      {"lone lead byte kept after count stops", "xb\xB0", "x", "y", std::nullopt, 1, true,
       "yb\xB0"},
      {"lone lead byte that matches", "ab\xB0", "\xB0", "c", std::nullopt, std::nullopt, true,
       "abc"},
      {"complete double-byte char at the end", "a\xB0\xA1", "x", "y", std::nullopt, std::nullopt,
       true, "a\xB0\xA1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReplaceText(c.text, c.sub, c.replacement, c.start, c.count, c.case_sensitive),
              c.expected);
  }
}

TEST(SplitText, KeepsInnerEmptyPiecesButNoTrailingOne) {
  struct Case {
    const char* name;
    std::string_view text;
    std::optional<std::string_view> separator;
    std::optional<int> max_count;
    TextArray expected;
  } cases[] = {
      {"empty text", "", ",", std::nullopt, {}},
      {"only a separator", ",", ",", std::nullopt, {""}},
      {"leading separator", ",a", ",", std::nullopt, {"", "a"}},
      {"adjacent separators", "a,,b", ",", std::nullopt, {"a", "", "b"}},
      {"final separator", "a,b,", ",", std::nullopt, {"a", "b"}},
      {"no separator", "abc", ",", std::nullopt, {"abc"}},
      {"default separator is a comma", "a,b", std::nullopt, std::nullopt, {"a", "b"}},
      {"two-byte separator", "a\r\nb\r\n\r\n", "\r\n", std::nullopt, {"a", "b", ""}},
      {"separator as a second byte", "\xB0,a,b", ",", std::nullopt, {"\xB0,a", "b"}},
      {"max count drops the rest", "a,b,c,d", ",", 2, {"a", "b"}},
      {"max count 0", "a,b", ",", 0, {}},
      {"negative max count", "a,b", ",", -1, {}},
      {"empty separator", "a,b", "", std::nullopt, {"a,b"}},
      {"lone lead byte stays", "a,\xB0", ",", std::nullopt, {"a", "\xB0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SplitText(c.text, c.separator, c.max_count), c.expected);
  }
}

TEST(TrimBoth, RemovesHalfAndFullWidthSpacesOnly) {
  struct Case {
    const char* name;
    std::string_view text;
    Text expected;
  } cases[] = {
      {"half-width", "  a b  ", "a b"},
      {"mixed widths", "\xA1\xA1 x\xA1\xA1 ", "x"},
      {"tab, CR and LF stay", " \tb\r\n ", "\tb\r\n"},
      {"only spaces", " \xA1\xA1 ", ""},
      {"empty", "", ""},
      {"space as a second byte", "b\xB0 ", "b\xB0 "},
      {"full-width space out of step", "\xB0\xA1\xA1", "\xB0\xA1"},
      {"lone lead byte is left out, spaces before it stay", "b \xB0", "b "},
      {"lone lead byte after leading spaces", "  \xB0", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TrimBoth(c.text), c.expected);
  }
}

TEST(ToLower, FoldsSingleByteCapitalsOnly) {
  struct Case {
    const char* name;
    std::string_view text;
    Text expected;
  } cases[] = {
      {"ascii", "ABC def", "abc def"},
      {"second byte stays", "\xB0\x41" "A", "\xB0\x41" "a"},
      {"lone lead byte stays", "A\xC1", "a\xC1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ToLower(c.text), c.expected);
  }
}

TEST(TextToInt, ReadsALeadingDecimalNumber) {
  struct Case {
    const char* name;
    std::string_view text;
    std::int32_t expected;
  } cases[] = {
      {"trailing letters", "12abc", 12},
      {"decimal point ends it", "3.7", 3},
      {"hex prefix ends it", "0x1A", 0},
      {"empty", "", 0},
      {"spaces then minus", "  -5", -5},
      {"plus sign", "+8", 8},
      {"two signs", "+-3", 0},
      {"sign alone", "-", 0},
      {"white space kinds", "\t\n\v\f\r 9", 9},
      {"full-width digits", "\xA3\xB1\xA3\xB2", 12},
      {"full-width minus", "\xA3\xAD\xA3\xB5", -5},
      {"full-width plus", "\xA3\xAB" "4", 4},
      {"full-width space", "\xA1\xA1" "7", 7},
      {"other double-byte char first", "\xB0\xA1" "7", 0},
      {"lone lead byte", "\xB0", 0},
      {"largest", "2147483647", INT32_MAX},
      {"smallest", "-2147483648", INT32_MIN},
      {"wraps past the largest", "2147483648", INT32_MIN},
      {"wraps twice", "4294967297", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TextToInt(c.text), c.expected);
  }
}

TEST(SmallPrimitives, EdgeValues) {
  EXPECT_EQ(IntToText(-7), "-7");
  EXPECT_EQ(IntToText(0), "0");
  EXPECT_EQ(IntToText(INT32_MIN), "-2147483648");
  EXPECT_EQ(CharText(0), "");
  EXPECT_EQ(CharText(0x41), "A");
  EXPECT_EQ(BlankText(0), "");
  EXPECT_EQ(BlankText(3), "   ");
  EXPECT_EQ(ConcatText("", ""), "");
  EXPECT_EQ(ConcatText("a", "", "b"), "ab");
  EXPECT_EQ(TextLength("\xB0\xA1" "a"), 3);
  EXPECT_EQ(BitOr(1, 2, 4), 7);
}

TEST(CompareText, OrdersUnsignedBytes) {
  struct Case {
    const char* name;
    std::string_view a;
    std::string_view b;
    int expected;
  } cases[] = {
      {"less", "a", "b", -1},
      {"greater", "b", "a", 1},
      {"both empty", "", "", 0},
      {"empty first", "", "a", -1},
      {"prefix first", "a", "ab", -1},
      {"high byte sorts after ascii", "\xB0", "a", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CompareText(c.a, c.b), c.expected);
  }
}

TEST(Bytes, ConversionsAndEdgeCounts) {
  const Bytes abc = TextToBytes("abc");
  EXPECT_EQ(abc.size(), 3u);
  EXPECT_EQ(TextToBytes(abc), abc);
  EXPECT_EQ(BytesToText(Bytes{0x41, 0x00, 0x42}), "A");
  EXPECT_EQ(BytesToText(Bytes{0x00, 0x41}), "");
  EXPECT_EQ(BytesToText(Bytes{}), "");
  EXPECT_EQ(BytesLength(abc), 3);
  EXPECT_EQ(BytesLeft(abc, 0), Bytes{});
  EXPECT_EQ(BytesLeft(abc, -1), Bytes{});
  EXPECT_EQ(BytesLeft(abc, 5), abc);
  EXPECT_EQ(BytesLeft(abc, 2), TextToBytes("ab"));
  EXPECT_EQ(BlankBytes(0), Bytes{});
  EXPECT_EQ(BlankBytes(-2), Bytes{});
  EXPECT_EQ(BlankBytes(2), (Bytes{0, 0}));
  const Bytes empty;
  EXPECT_EQ(ConcatBytes(empty, empty), empty);
  EXPECT_EQ(ConcatBytes(abc, empty, abc), TextToBytes("abcabc"));
  EXPECT_TRUE(BytesEqual(empty, Bytes{}));
  EXPECT_FALSE(BytesEqual(Bytes{1}, Bytes{1, 0}));
  EXPECT_FALSE(BytesEqual(Bytes{1}, Bytes{2}));
}

// Step-by-step walks written straight from the rules, one character at a
// time, against which the fast searches are compared on many short texts.
namespace reference {

bool High(char c) { return static_cast<unsigned char>(c) >= 0x80; }

bool Equal(std::string_view text, std::size_t i, std::string_view sub, bool fold) {
  for (std::size_t k = 0; k < sub.size(); ++k) {
    unsigned char a = static_cast<unsigned char>(text[i + k]);
    unsigned char b = static_cast<unsigned char>(sub[k]);
    if (fold) {
      if (a >= 'A' && a <= 'Z') a += 0x20;
      if (b >= 'A' && b <= 'Z') b += 0x20;
    }
    if (a != b) return false;
  }
  return true;
}

std::size_t Begin(std::optional<int> start) {
  return !start || *start <= 1 ? 0 : static_cast<std::size_t>(*start) - 1;
}

int Find(std::string_view text, std::string_view sub, std::optional<int> start, bool fold) {
  const std::size_t size = text.size();
  std::size_t i = Begin(start);
  if (i >= size) return -1;
  if (sub.empty()) return 1;
  while (i < size) {
    if (size - i >= sub.size() && Equal(text, i, sub, fold)) return static_cast<int>(i + 1);
    if (High(text[i]) && i + 1 >= size) break;
    i += High(text[i]) ? 2 : 1;
  }
  return -1;
}

int FindReverse(std::string_view text, std::string_view sub, std::optional<int> start,
                bool fold) {
  std::size_t region = text.size();
  if (start) region = *start < 2 ? 0 : std::min(region, static_cast<std::size_t>(*start) - 1);
  if (region == 0) return -1;
  if (sub.empty()) return 1;
  int last = -1;
  for (std::size_t i = 0; i < region;) {
    if (region - i >= sub.size() && Equal(text, i, sub, fold)) last = static_cast<int>(i + 1);
    if (High(text[i]) && i + 1 >= region) break;
    i += High(text[i]) ? 2 : 1;
  }
  return last;
}

Text Replace(std::string_view text, std::string_view sub, std::string_view with,
             std::optional<int> start, std::optional<int> count, bool case_sensitive) {
  const std::size_t size = text.size();
  std::size_t i = Begin(start);
  if (text.empty() || sub.empty() || i >= size || (count && *count == 0)) return Text(text);
  Text out(text.substr(0, i));
  int replaced = 0;
  while (size - i >= sub.size()) {
    if (Equal(text, i, sub, !case_sensitive)) {
      out += with;
      i += sub.size();
      if (count && *count > 0 && ++replaced == *count) break;
      continue;
    }
    if (High(text[i])) {
      if (i + 1 >= size) return out;  // a lone lead byte is dropped
      out += text.substr(i, 2);
      i += 2;
    } else {
      out += text[i++];
    }
  }
  out += text.substr(i);
  return out;
}

TextArray Split(std::string_view text, std::string_view separator, std::optional<int> max_count) {
  TextArray parts;
  const int limit = max_count ? std::max(*max_count, 0) : -1;
  if (text.empty() || limit == 0) return parts;
  if (separator.empty()) return {Text(text)};
  std::size_t piece = 0;
  std::size_t i = 0;
  while (text.size() - i >= separator.size()) {
    if (Equal(text, i, separator, false)) {
      parts.emplace_back(text.substr(piece, i - piece));
      i += separator.size();
      piece = i;
      if (limit > 0 && static_cast<int>(parts.size()) == limit) return parts;
      continue;
    }
    if (High(text[i]) && i + 1 >= text.size()) break;
    i += High(text[i]) ? 2 : 1;
  }
  if (piece < text.size()) parts.emplace_back(text.substr(piece));
  return parts;
}

Text Trim(std::string_view text) {
  std::vector<std::string_view> chars;
  bool lone_lead = false;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = High(text[i]) ? 2 : 1;
    if (i + n > text.size()) {
      lone_lead = true;
      break;
    }
    chars.push_back(text.substr(i, n));
    i += n;
  }
  auto is_space = [](std::string_view c) { return c == " " || c == "\xA1\xA1"; };
  std::size_t first = 0;
  while (first < chars.size() && is_space(chars[first])) ++first;
  std::size_t end = chars.size();
  if (!lone_lead) {
    while (end > first && is_space(chars[end - 1])) --end;
  }
  Text out;
  for (std::size_t k = first; k < end; ++k) out += chars[k];
  return out;
}

}  // namespace reference

TEST(CharacterWalk, FastSearchesAgreeWithAStepByStepWalk) {
  // Letters of both cases, a separator, a space and high bytes, so that runs
  // of double-byte characters, ASCII second bytes, full-width spaces and lone
  // lead bytes all turn up.
  constexpr std::string_view kAlphabet = "aA, \xB0\xA1";
  std::mt19937 random(20240601u);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  auto make = [&](std::size_t max_length) {
    Text t;
    for (std::size_t n = pick(max_length + 1); n > 0; --n) t += kAlphabet[pick(kAlphabet.size())];
    return t;
  };
  for (int round = 0; round < 20000; ++round) {
    const Text text = make(12);
    const Text sub = make(3);
    const Text with = make(2);
    const std::optional<int> start =
        pick(4) == 0 ? std::nullopt : std::optional<int>(static_cast<int>(pick(16)) - 2);
    const std::optional<int> count =
        pick(3) == 0 ? std::optional<int>(static_cast<int>(pick(4)) - 1) : std::nullopt;
    const bool fold = pick(2) == 0;
    SCOPED_TRACE(::testing::Message() << "round " << round);
    ASSERT_EQ(FindText(text, sub, start, fold), reference::Find(text, sub, start, fold));
    ASSERT_EQ(FindTextReverse(text, sub, start, fold),
              reference::FindReverse(text, sub, start, fold));
    ASSERT_EQ(ReplaceText(text, sub, std::string_view(with), start, count, !fold),
              reference::Replace(text, sub, with, start, count, !fold));
    ASSERT_EQ(SplitText(text, sub, count), reference::Split(text, sub, count));
    ASSERT_EQ(TrimBoth(text), reference::Trim(text));
  }
}

}  // namespace
}  // namespace folivex
