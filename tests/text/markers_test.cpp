#include "text/markers.h"

#include <gtest/gtest.h>

#include <optional>

namespace folivex {
namespace {

TEST(ExtractBetween, CutsBetweenTheFirstLeftAndTheNextRight) {
  const Text quoted_left = ConcatText("value=", kQuotePlaceholder);
  struct Case {
    const char* name;
    std::string_view text;
    std::string_view left;
    std::string_view right;
    std::optional<int> start;
    bool ignore_case;
    Text expected;
  } cases[] = {
      {"left marker twice", "[a][b]", "[", "]", std::nullopt, false, "a"},
      {"start after the first left", "[a][b]", "[", "]", 2, false, "b"},
      {"right only before left", "]x[abc", "[", "]", std::nullopt, false, ""},
      {"right directly after left", "x[]y", "[", "]", std::nullopt, false, ""},
      {"left ends the text", "abc[", "[", "]", std::nullopt, false, ""},
      {"left missing", "abc]", "[", "]", std::nullopt, false, ""},
      {"right overlapping left is not used", "abc", "ab", "bc", std::nullopt, false, ""},
      {"left as a second byte is skipped", "\xB0[a][b]", "[", "]", std::nullopt, false, "b"},
      {"placeholder stands for a quote", "<p value=\"42\" />", quoted_left, kQuotePlaceholder,
       std::nullopt, false, "42"},
      {"other capitals, exact", "TITLE:x;", "title:", ";", std::nullopt, false, ""},
      {"other capitals, ignored", "TITLE:x;", "title:", ";", std::nullopt, true, "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ExtractBetween(c.text, c.left, c.right, c.start, c.ignore_case), c.expected);
  }
}

TEST(ExtractBetweenFirst, UsesTheFirstLeftMarkerAndMarkersAsGiven) {
  const Text placeholder_left = ConcatText("v=", kQuotePlaceholder);
  struct Case {
    const char* name;
    std::string_view text;
    std::string_view left;
    std::string_view right;
    Text expected;
  } cases[] = {
      {"plain", "a<t>x</t>b", "<t>", "</t>", "x"},
      {"left missing", "a x</t>", "<t>", "</t>", ""},
      {"right missing after left", "</t><t>x", "<t>", "</t>", ""},
      {"right directly after left", "<t></t>", "<t>", "</t>", ""},
      {"left ends the text", "x<t>", "<t>", "</t>", ""},
      {"first left even when a later one is closer",
       "<t>xxxx<t>y</t>", "<t>", "</t>", "xxxx<t>y"},
      {"quotes and line feeds match as bytes", "title = \"Book\"\n;", "title = \"", "\"\n",
       "Book"},
      {"placeholder is not replaced", "v=\"1\";", placeholder_left, ";", ""},
      {"left as a second byte is skipped", "\xB0<<x>", "<", ">", "x"},
      // The right marker is looked for in a walk that starts right after the
      // left marker.
      {"right search walks from after the left marker", "\xB0\xB0]x]", "\xB0", "]",
       "\xB0]x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ExtractBetweenFirst(c.text, c.left, c.right), c.expected);
  }
}

TEST(TextBeforeMarker, GivesEverythingUpToTheMarker) {
  struct Case {
    const char* name;
    std::string_view text;
    std::string_view marker;
    std::optional<int> start;
    Text expected;
  } cases[] = {
      {"header name", "Set-Cookie: a=1", ": ", std::nullopt, "Set-Cookie"},
      {"marker missing", "Set-Cookie:a=1", ": ", std::nullopt, ""},
      {"marker first", ": a", ": ", std::nullopt, ""},
      {"start moves the search, not the cut", "a: b: c", ": ", 3, "a: b"},
      {"negative start", "a: b", ": ", -4, "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TextBeforeMarker(c.text, c.marker, c.start), c.expected);
  }
}

TEST(TextAfterColon, GivesTheTrimmedRest) {
  struct Case {
    const char* name;
    std::string_view text;
    Text expected;
  } cases[] = {
      {"two colons", "a:b:c", "b:c"},
      {"no colon", "abc", ""},
      {"colon last", "abc:", ""},
      {"both space widths trimmed", "k: \xA1\xA1v \xA1\xA1", "v"},
      {"tab stays", "k:\tv", "\tv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TextAfterColon(c.text), c.expected);
  }
}

}  // namespace
}  // namespace folivex
