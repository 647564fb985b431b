#include "analysis/folder_name.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/codepage.h"

namespace folivex {
namespace {

const char* kAddress = "http://www.folivex.com/38907795.html";

TEST(SafeFolderName, ReplacesWhatNoFileSystemTakes) {
  struct Case {
    const char* name;
    Text title;
    Text expected;
  } cases[] = {
      {"plain title stays", "Spring", "Spring"},
      {"Chinese title stays", "\xB4\xBA\xCC\xEC", "\xB4\xBA\xCC\xEC"},  // 春天
      {"backslashes and dots", "..\\..\\x", "\xA3\xAE.\xA3\xDC..\xA3\xDCx"},
      {"slashes", "../../x", "\xA3\xAE.\xA3\xAF..\xA3\xAFx"},
      {"drive prefix", "C:\\Windows", "C\xA3\xBA\xA3\xDCWindows"},
      {"root path", "/etc", "\xA3\xAF" "etc"},
      {"reserved characters", "a*b?c\"d<e>f|g", "a\xA3\xAA" "b\xA3\xBF" "c\xA3\xA2" "d\xA3\xBC" "e\xA3\xBE" "f\xA3\xFCg"},
      {"device name", "CON", "CON_"},
      {"device name in lower case with extension", "com1.txt", "com1_.txt"},
      {"not a device name", "CONSOLE", "CONSOLE"},
      {"trailing dot", "a.", "a\xA3\xAE"},
      {"trailing spaces", "a  ", "a\xA1\xA1\xA1\xA1"},
      {"dot dot alone", "..", "\xA3\xAE\xA3\xAE"},
      {"control characters", "a\tb\x01" "c\x7F", "a_b_c_"},
      {"lone lead byte at the end", "ab\xB4", "ab_"},
      {"leading dot hides nothing", ".profile", "\xA3\xAEprofile"},
      // 0x80 and 0xFF are characters of one byte: what follows them is a
      // character of its own, never their second half.
      {"euro sign before a slash", "\x80/x", "\x80\xA3\xAFx"},
      {"0xFF before a backslash", "\xFF\\x", "\xFF\xA3\xDCx"},
      {"euro sign before a tab", "\x80\t", "\x80_"},
      {"lead byte before a control character", "\xB4\x09x", "__x"},
      {"lead byte before a colon", "\xB4:", "_\xA3\xBA"},
      {"lead byte before 0x7F", "\xB4\x7Fx", "__x"},
      {"lead byte before a star at the end", "a\xFE*", "a_\xA3\xAA"},
      {"second byte 0x5C stays inside its character", "\x81\x5C", "\x81\x5C"},  // 乗
      {"second byte 0x40 stays inside its character", "\x81\x40", "\x81\x40"},  // 丂
      {"console input", "CONIN$", "CONIN$_"},
      {"console output with extension", "conout$.log", "conout$_.log"},
      {"port zero", "COM0", "COM0_"},
      {"printer zero with extension", "lpt0.txt", "lpt0_.txt"},
      {"device name before spaces and an extension", "aux .txt", "aux _.txt"},
      {"two-digit port is no device", "COM10", "COM10"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SafeFolderName(c.title, kAddress), c.expected);
  }
}

TEST(SafeFolderName, UnusableTitlesAreNamedAfterTheAddress) {
  struct Case {
    const char* name;
    Text title, address, expected;
  } cases[] = {
      {"empty title", "", kAddress, "book_www.folivex.com\xA3\xAF" "38907795.html"},
      {"only question marks", "????", kAddress, "book_www.folivex.com\xA3\xAF" "38907795.html"},
      {"only blanks", "   ", "http://h/a/b/", "book_h\xA3\xAF" "a\xA3\xAF" "b"},
      {"no address either", "", "", "book"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SafeFolderName(c.title, c.address), c.expected);
  }
}

Text Repeat(const Text& piece, int times) {
  Text out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

// The bound holds for the name the file system sees, after every
// replacement: full-width forms take 3 bytes of UTF-8 for 1 byte of title.
TEST(SafeFolderName, LongNamesFitBothFileSystemsAfterEveryReplacement) {
  struct Case {
    const char* name;
    Text title;
    bool cut;
  } cases[] = {
      {"100 dots", Repeat(".", 100), true},
      {"a title ending in 100 dots", "Spring" + Repeat(".", 100), true},
      {"300 spaces after a letter", "a" + Repeat(" ", 300), true},
      {"100 slashes", Repeat("/", 100), true},
      {"200 euro signs", Repeat("\x80", 200), true},
      {"150 Chinese characters", Repeat("\xB4\xBA", 150), true},
      {"151 Chinese characters", Repeat("\xB4\xBA", 151), true},
      {"200 letters", Repeat("x", 200), true},
      {"80 Chinese characters fit", Repeat("\xB4\xBA", 80), false},
      {"150 letters fit", Repeat("x", 150), false},
      {"device name and 300 dots", "CON" + Repeat(".", 300), true},
  };
  std::set<Text> names;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Text name = SafeFolderName(c.title, kAddress);
    EXPECT_LE(static_cast<int>(GbkToUtf8(name).size()), kMaxFolderNameUtf8Bytes);
    EXPECT_LE(static_cast<int>(GbkToUtf16(name).size()), kMaxFolderNameUtf16Units);
    // Every character survives the way to Unicode and back.
    EXPECT_EQ(Utf8ToGbkText(GbkToUtf8(name)), name);
    EXPECT_NE(name.back(), '.');
    EXPECT_NE(name.back(), ' ');
    EXPECT_NE(name.front(), '.');
    EXPECT_EQ(name.find('/'), Text::npos);
    const std::size_t tilde = name.rfind('~');
    EXPECT_EQ(c.cut, tilde != Text::npos && name.size() - tilde == 9);
    if (!c.cut) {
      EXPECT_EQ(name, c.title);
    }
    EXPECT_TRUE(names.insert(name).second) << "two titles share a name";
  }
}

TEST(SafeFolderName, LongTitlesAreCutAtACharacterAndStayDistinct) {
  const Text long_a = Repeat("\xB4\xBA", 150);  // 300 bytes of 春
  const Text long_b = long_a + "\xCC\xEC";
  const Text a = SafeFolderName(long_a, kAddress);
  const Text b = SafeFolderName(long_b, kAddress);
  EXPECT_NE(a, b);
  // The cut never leaves half a character before the hash.
  const std::size_t tilde = a.find('~');
  ASSERT_NE(tilde, Text::npos);
  EXPECT_EQ(tilde % 2, 0u);
  EXPECT_EQ(a.substr(0, tilde), Repeat("\xB4\xBA", static_cast<int>(tilde / 2)));
}

TEST(FolderNameWithSuffix, CutsTheNameSoTheSuffixFits) {
  struct Case {
    const char* name;
    Text title;
    Text expected;  // empty: cut, checked by the bounds
  } cases[] = {
      {"short name", "Spring", "Spring (0a1b2c3d)"},
      {"name at the bound of UTF-16 units", Repeat("x", 150), ""},
      {"Chinese name at the bound of UTF-8 bytes", Repeat("\xB4\xBA", 80), ""},
      {"full-width dots at the end", Repeat(".", 100), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Text name = FolderNameWithSuffix(SafeFolderName(c.title, kAddress), " (0a1b2c3d)");
    if (!c.expected.empty()) {
      EXPECT_EQ(name, c.expected);
    }
    EXPECT_TRUE(name.ends_with(" (0a1b2c3d)"));
    EXPECT_LE(static_cast<int>(GbkToUtf8(name).size()), kMaxFolderNameUtf8Bytes);
    EXPECT_LE(static_cast<int>(GbkToUtf16(name).size()), kMaxFolderNameUtf16Units);
    EXPECT_EQ(Utf8ToGbkText(GbkToUtf8(name)), name);
  }
}

TEST(SafeFolderName, NeverMakesMoreThanOneLevel) {
  const Text hostile[] = {"..", ".", "../..", "a/../../b", "\\\\server\\share", "C:", "x/",
                          "\x80/..", "\xFF\\..", "\x81/\x81\\", "\xB4", ". ", " ."};
  for (const Text& title : hostile) {
    SCOPED_TRACE(title);
    const Text name = SafeFolderName(title, kAddress);
    // Looked at as the file system sees it: 0x5C may be the second byte of
    // a character, but no character may be a separator.
    const std::u16string wide = GbkToUtf16(name);
    EXPECT_EQ(wide.find(u'/'), std::u16string::npos);
    EXPECT_EQ(wide.find(u'\\'), std::u16string::npos);
    EXPECT_EQ(wide.find(u':'), std::u16string::npos);
    EXPECT_NE(name, "..");
    EXPECT_NE(name, ".");
    EXPECT_FALSE(name.empty());
  }
}

}  // namespace
}  // namespace folivex
