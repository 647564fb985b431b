// The sample site: the book page carries the three fields byte for byte as
// the analysis expects them, and the page knobs change what a client gets.
#include <gtest/gtest.h>

#include <string>

#include "image/image_format.h"
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

ParsedResponse Get(int port, const std::string& path, const std::string& referer = "") {
  const std::string head = referer.empty() ? "" : "Referer: " + referer + "\r\n";
  return ParseResponse(ExchangeRaw(port, "GET " + path + " HTTP/1.0\r\n" + head + "\r\n").bytes);
}

Bytes AsBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

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

TEST(SampleSite, ServesBooksTheWaysCurrentHostsDo) {
  SampleSite site;
  const JpegOptions small = {.width = 40, .height = 30};
  site.AddBook({.id = "webp", .pages = 3, .picture = small, .format = PageFormat::Webp,
                .other_extension_status = 403});
  site.AddBook({.id = "png", .pages = 3, .picture = small,
                .page_formats = {{2, PageFormat::Png}}});
  site.AddBook({.id = "trailer", .pages = 2, .picture = small, .jpeg_trailer = "CAMERA\x01\x02"});
  site.AddBook({.id = "referer", .pages = 2, .picture = small, .referer_check = true});
  ASSERT_TRUE(site.Start()) << site.error();
  const int port = site.server().port();
  struct Case {
    const char* name;
    std::string id;
    int page;
    std::string extension;
    std::string referer;
    int status;
    ImageKind kind;  // None: no picture expected
    const char* content_type;
  } cases[] = {
      {"WebP page", "webp", 1, "webp", "", 200, ImageKind::Webp, "image/webp"},
      {"WebP book refuses .jpg", "webp", 1, "jpg", "", 403, ImageKind::None, nullptr},
      {"WebP book, past the last page", "webp", 4, "webp", "", 404, ImageKind::None, nullptr},
      {"JPEG page of a book with a PNG page", "png", 1, "jpg", "", 200, ImageKind::Jpeg,
       "image/jpeg"},
      {"PNG page under .jpg", "png", 2, "jpg", "", 200, ImageKind::Png, "image/png"},
      {"JPEG book answers .webp with 404", "png", 1, "webp", "", 404, ImageKind::None, nullptr},
      {"JPEG with a trailer", "trailer", 1, "jpg", "", 200, ImageKind::Jpeg, "image/jpeg"},
      {"no Referer", "referer", 1, "jpg", "", 403, ImageKind::None, nullptr},
      {"another page as Referer", "referer", 1, "jpg", "http://127.0.0.1/elsewhere.html", 403,
       ImageKind::None, nullptr},
      {"the book page as Referer", "referer", 1, "jpg", site.BookUrl("referer"), 200,
       ImageKind::Jpeg, "image/jpeg"},
      {"the book's folder as Referer", "referer", 2, "jpg", site.BaseUrl("referer"), 200,
       ImageKind::Jpeg, "image/jpeg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ParsedResponse reply = Get(port, SampleSite::ImagePath(c.id, c.page, c.extension), c.referer);
    EXPECT_EQ(reply.status, c.status);
    if (c.kind == ImageKind::None) continue;
    EXPECT_EQ(reply.body, site.PageBytes(c.id, c.page));
    EXPECT_EQ(reply.Header("Content-Type"), c.content_type);
    EXPECT_EQ(SniffImage(AsBytes(reply.body)), c.kind);
    EXPECT_TRUE(IsCompleteImage(AsBytes(reply.body)));
  }
  // The trailer is part of the page as served, outside the picture itself.
  const std::string& with_trailer = site.PageBytes("trailer", 1);
  ASSERT_GT(with_trailer.size(), 8u);
  EXPECT_EQ(with_trailer.substr(with_trailer.size() - 8), "CAMERA\x01\x02");
  ImageScanner scanner;
  scanner.Feed(AsBytes(with_trailer));
  EXPECT_EQ(scanner.ImageSize(), with_trailer.size() - 8);

  EXPECT_EQ(site.Extension("webp"), "webp");
  EXPECT_EQ(site.Extension("png"), "jpg");
  EXPECT_EQ(site.ImageUrl("webp", 3), site.ImageBase("webp") + "3.webp");
  EXPECT_EQ(site.ImageRequests("webp", 1), 2) << "one .webp and one .jpg request";
  EXPECT_EQ(site.ImageRequests("webp", 1, "jpg"), 1);
  EXPECT_EQ(site.ImageRequests("png", 1), 2);
}

// Books made alike serve one stored picture; a book that differs in
// anything the picture is made from gets its own.
TEST(SampleSite, BooksShareOnlyPicturesMadeAlike) {
  SampleSite site;
  const BookSpec base = {.id = "base", .pages = 2, .picture = {.width = 40, .height = 30}};
  BookSpec twin = base;
  twin.id = "twin";
  twin.title = "another title";
  site.AddBook(base);
  site.AddBook(twin);
  struct Case {
    const char* name;
    BookSpec book;
  } differing[] = {
      {"padded", {.id = "padded", .pages = 2, .page_size = 4000, .picture = base.picture}},
      {"larger", {.id = "larger", .pages = 2, .picture = {.width = 41, .height = 30}}},
      {"noisy", {.id = "noisy", .pages = 2, .picture = {.width = 40, .height = 30, .noise = 9}}},
      {"WebP", {.id = "webp", .pages = 2, .picture = base.picture, .format = PageFormat::Webp}},
      {"PNG page", {.id = "png", .pages = 2, .picture = base.picture,
                    .page_formats = {{1, PageFormat::Png}}}},
      {"trailer", {.id = "trailer", .pages = 2, .picture = base.picture, .jpeg_trailer = "T"}},
  };
  for (const Case& c : differing) site.AddBook(c.book);
  ASSERT_TRUE(site.Start()) << site.error();

  EXPECT_EQ(&site.PageBytes("twin", 1), &site.PageBytes("base", 1));
  EXPECT_NE(site.PageBytes("base", 1), site.PageBytes("base", 2));
  EXPECT_EQ(Get(site.server().port(), SampleSite::ImagePath("twin", 2)).body,
            site.PageBytes("base", 2));
  for (const Case& c : differing) {
    SCOPED_TRACE(c.name);
    EXPECT_NE(site.PageBytes(c.book.id, 1), site.PageBytes("base", 1));
  }
}

}  // namespace
}  // namespace folivex
