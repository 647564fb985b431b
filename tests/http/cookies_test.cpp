#include "http/cookies.h"

#include <gtest/gtest.h>

namespace folivex {
namespace {

TEST(CollectSetCookies, JoinsTheNameValuePartsOfSetCookieLines) {
  struct Case {
    const char* name;
    std::string_view headers;
    Text expected;
  } cases[] = {
      {"two cookies, attributes left out",
       "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n\r\n", "a=1; b=2"},
      {"no Set-Cookie line", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", ""},
      {"empty block", "", ""},
      {"other case and missing blank are not collected",
       "HTTP/1.1 200 OK\r\nset-cookie: a=1\r\nSet-Cookie:a=1\r\n\r\n", ""},
      {"empty value before attributes",
       "HTTP/1.1 200 OK\r\nSet-Cookie: ; path=/\r\nSet-Cookie: b=2\r\n", "; b=2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CollectSetCookies(c.headers), c.expected);
  }
}

TEST(MergeCookies, ReceivedItemsWinAndOldOnesFollow) {
  struct Case {
    const char* name;
    Text cookies;
    Text received;
    Text merged;
    Text received_after;
  } cases[] = {
      {"received value wins, blank stays", "a=1; b=2", "b=3; c=4", "b=3; c=4;a=1", "b=3; c=4"},
      {"deleted cookie replaces and is dropped", "a=1;b=2", "a=deleted", "b=2", "a=deleted"},
      {"both empty", "", "", "", ""},
      {"nothing stored yet", "", "x=1", "x=1", "x=1"},
      {"exact duplicates disappear", "", "a=1;a=1", "a=1", "a=1;a=1"},
      {"a leading blank makes another item", "", "a=1; a=1", "a=1; a=1", "a=1; a=1"},
      {"first of several old items of one name", "k=1;k=2", "", "k=1", ""},
      {"item without = keeps its place", "flag;a=1", "b=2", "b=2;flag;a=1", "b=2"},
      {"item without = replaced by its name", "flag", "flag=x", "flag=x", "flag=x"},
      {"both trimmed in place", "  a=1 ", " b=2\xA1\xA1", "b=2;a=1", "b=2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Text cookies = c.cookies;
    Text received = c.received;
    EXPECT_EQ(MergeCookies(cookies, received), c.merged);
    EXPECT_EQ(cookies, c.merged);
    EXPECT_EQ(received, c.received_after);
  }
}

TEST(CookieLists, NamesAndDistinctParts) {
  EXPECT_EQ(CookieName(" a =1=2"), "a");
  EXPECT_EQ(CookieName(" flag "), "flag");
  EXPECT_EQ(CookieName("=x"), "");
  EXPECT_TRUE(ContainsCookieName({"x=1", " a=2"}, "a"));
  EXPECT_FALSE(ContainsCookieName({"x=1", "ab=2"}, "a"));
  EXPECT_EQ(JoinDistinct("a;b;a;;b", ";"), "a;b;");
  EXPECT_EQ(JoinDistinct("a, b, a", ", "), "a, b");
  EXPECT_EQ(JoinDistinct("", ";"), "");
  EXPECT_EQ(IndexOfText({"a", "b", "a"}, "a"), 1);
  EXPECT_EQ(IndexOfText({"a", "b"}, "c"), -1);
}

}  // namespace
}  // namespace folivex
