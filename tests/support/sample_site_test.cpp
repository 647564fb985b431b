// The sample site: the book page carries the three fields byte for byte as
// the analysis expects them, and the page knobs change what a client gets.
#include <gtest/gtest.h>

#include <string>

#include "support/sample_site.h"

namespace folivex {
namespace {

// The bytes after the first `left` and before the next `right`.
std::string Between(const std::string& text, const std::string& left, const std::string& right) {
  std::size_t start = text.find(left);
  if (start == std::string::npos) return {};
  start += left.size();
  std::size_t end = text.find(right, start);
  return end == std::string::npos ? std::string() : text.substr(start, end - start);
}

const std::string kTitleLeft = "title: \"", kTitleRight = "\",";
const std::string kPagesLeft = "pages: \"", kPagesRight = "\",";
const std::string kBaseLeft = "class=\"form-control af-left\" readonly value=\"";
const std::string kBaseRight = "index.html\">\n ";

ParsedResponse Get(int port, const std::string& path) {
  return ParseResponse(ExchangeRaw(port, "GET " + path + " HTTP/1.0\r\n\r\n").bytes);
}

TEST(SampleSite, BookPageCarriesTheFields) {
  const std::string title = "\xE6\x98\xA5\xE5\xA4\xA9";  // 春天
  SampleSite site;
  BookSpec plain;
  plain.id = "b1";
  plain.title = title;
  plain.pages = 24;
  BookSpec windows = plain;
  windows.id = "crlf";
  windows.crlf = true;
  BookSpec odd = plain;
  odd.id = "odd";
  odd.page_count_text = "abc";
  odd.omit_title = true;
  site.AddBook(plain);
  site.AddBook(windows);
  site.AddBook(odd);
  ASSERT_TRUE(site.Start()) << site.error();
  struct Case {
    const char* id;
    std::string title, pages, base;
  } cases[] = {
      {"b1", title, "24", site.BaseUrl("b1")},
      // A CR before the LF: the base end marker is not there.
      {"crlf", title, "24", ""},
      {"odd", "", "abc", site.BaseUrl("odd")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    ParsedResponse page = Get(site.server().port(), std::string("/") + c.id + "/index.html");
    ASSERT_EQ(page.status, 200);
    EXPECT_EQ(page.body, site.BookPage(c.id));
    EXPECT_EQ(Between(page.body, kTitleLeft, kTitleRight), c.title);
    EXPECT_EQ(Between(page.body, kPagesLeft, kPagesRight), c.pages);
    EXPECT_EQ(Between(page.body, kBaseLeft, kBaseRight), c.base);
  }
  EXPECT_EQ(site.BaseUrl("b1"), "http://127.0.0.1:" + std::to_string(site.server().port()) + "/b1/");
  EXPECT_EQ(site.BookPageRequests("b1"), 1);
}

TEST(SampleSite, ServesPagesAndTheirFaults) {
  SampleSite site;
  BookSpec book;
  book.id = "b";
  book.pages = 6;
  book.page_size = 30000;
  book.page_faults[2].status = 404;
  book.page_faults[3].html_body = true;
  book.page_faults[4].fail_first = 1;
  book.page_faults[5].delivery.fault = Fault::kCutShort;
  book.page_faults[5].delivery.fault_after = 1000;
  site.AddBook(book);
  ASSERT_TRUE(site.Start()) << site.error();
  const int port = site.server().port();
  struct Case {
    const char* name;
    int page;
    int status;
    bool picture;  // the body is the page's picture, whole
  } cases[] = {
      {"good page", 1, 200, true},
      {"missing page", 2, 404, false},
      {"error page with 200", 3, 200, false},
      {"first try refused", 4, 503, false},
      {"second try served", 4, 200, true},
      {"cut short", 5, 200, false},
      {"good page again", 6, 200, true},
      {"past the last page", 7, 404, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ParsedResponse reply = Get(port, SampleSite::ImagePath("b", c.page));
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.body == site.PageBytes("b", c.page), c.picture);
  }
  EXPECT_EQ(site.PageBytes("b", 1).size(), 30000u);
  EXPECT_NE(site.PageBytes("b", 1), site.PageBytes("b", 6));
  EXPECT_EQ(site.ImageRequests("b", 4), 2);
  EXPECT_EQ(site.ImageRequests("b", 1), 1);
  EXPECT_EQ(site.ImageRequests("b", 9), 0);
}

}  // namespace
}  // namespace folivex
