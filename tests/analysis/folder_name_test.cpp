#include "analysis/folder_name.h"

#include <gtest/gtest.h>

#include <set>

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

TEST(SafeFolderName, LongTitlesAreCutAtACharacterAndStayDistinct) {
  Text long_a, long_b;
  for (int i = 0; i < 150; ++i) long_a += "\xB4\xBA";  // 300 bytes of 春
  long_b = long_a + "\xCC\xEC";
  const Text a = SafeFolderName(long_a, kAddress);
  const Text b = SafeFolderName(long_b, kAddress);
  EXPECT_LE(static_cast<int>(a.size()), kMaxFolderNameBytes);
  EXPECT_NE(a, b);
  // The cut never leaves half a character before the hash.
  const std::size_t tilde = a.find('~');
  ASSERT_NE(tilde, Text::npos);
  EXPECT_EQ(tilde % 2, 0u);
}

TEST(SafeFolderName, NeverMakesMoreThanOneLevel) {
  const Text hostile[] = {"..", ".", "../..", "a/../../b", "\\\\server\\share", "C:", "x/"};
  for (const Text& title : hostile) {
    SCOPED_TRACE(title);
    const Text name = SafeFolderName(title, kAddress);
    EXPECT_EQ(name.find('/'), Text::npos);
    EXPECT_EQ(name.find('\\'), Text::npos);
    EXPECT_EQ(name.find(':'), Text::npos);
    EXPECT_NE(name, "..");
    EXPECT_NE(name, ".");
    EXPECT_FALSE(name.empty());
  }
}

}  // namespace
}  // namespace folivex
