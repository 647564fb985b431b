// Book page analysis as a value: what it finds on the sample site's pages
// and what stops a book from being downloaded.
#include "analysis/book_analysis.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "support/sample_site.h"

namespace folivex {
namespace {

class BookAnalysisTest : public ::testing::Test {
 protected:
  void Start() { ASSERT_TRUE(site_.Start()) << site_.error(); }
  SampleSite site_;
};

TEST_F(BookAnalysisTest, FindsTheBookAndFetchesItsCoverOnce) {
  site_.AddBook({.id = "a", .title = "Spring", .pages = 24});
  Start();
  const BookAnalysis book = AnalyzeBook(site_.BookUrl("a"), FetchOptions{});
  EXPECT_EQ(book.problem, AnalysisProblem::None);
  EXPECT_EQ(book.page, Utf8ToGbkText(site_.BookPage("a")));
  EXPECT_EQ(book.title, "Spring");
  EXPECT_EQ(book.page_count, "24");
  EXPECT_EQ(book.PageCount(), 24);
  EXPECT_EQ(book.base, site_.BaseUrl("a"));
  EXPECT_EQ(book.image_base, site_.ImageBase("a"));
  EXPECT_EQ(book.cover_address, site_.ImageUrl("a", 1));
  EXPECT_EQ(std::string(book.cover.body.begin(), book.cover.body.end()), site_.PageBytes("a", 1));
  EXPECT_EQ(site_.ImageRequests("a", 1), 1);
}

TEST_F(BookAnalysisTest, WhatStopsADownloadIsTold) {
  struct Case {
    const char* name;
    BookSpec book;
    const char* address;  // instead of the book's own
    AnalysisProblem problem;
  } cases[] = {
      {.name = "no page count", .book = {.id = "np", .title = "T", .omit_page_count = true},
       .problem = AnalysisProblem::NoPageCount},
      {.name = "no base address", .book = {.id = "nb", .title = "T", .pages = 2, .omit_base = true},
       .problem = AnalysisProblem::NoBaseAddress},
      {.name = "an error page", .book = {.id = "err", .book_page_fault = {.status = 404}},
       .problem = AnalysisProblem::NoPageCount},
      {.name = "nobody there", .book = {.id = "gone"}, .address = "http://127.0.0.1:1/x/index.html",
       .problem = AnalysisProblem::PageNotFetched},
      {.name = "not an address", .book = {.id = "junk"}, .address = "  ",
       .problem = AnalysisProblem::PageNotFetched},
  };
  for (const Case& c : cases) site_.AddBook(c.book);
  Start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Text address = c.address ? Text(c.address) : Text(site_.BookUrl(c.book.id));
    const BookAnalysis book = AnalyzeBook(address, FetchOptions{});
    EXPECT_EQ(book.problem, c.problem);
  }
}

// The extension is chosen once, from the cover: .jpg as always, .webp only
// when .jpg gives no picture and .webp does. The cover request names the
// book page as its Referer.
TEST_F(BookAnalysisTest, TheCoverChoosesTheBooksExtension) {
  const JpegOptions small = {.width = 24, .height = 32};
  struct Case {
    const char* name;
    BookSpec book;
    const char* extension;
    int jpg_requests, webp_requests;
    bool cover;  // the cover is page 1's picture
  } cases[] = {
      {"JPEG book: no extra request", {.id = "jpeg", .picture = small}, "jpg", 1, 0, true},
      {"WebP book, .jpg missing",
       {.id = "webp404", .picture = small, .format = PageFormat::Webp}, "webp", 1, 1, true},
      {"WebP book, .jpg forbidden",
       {.id = "webp403", .picture = small, .format = PageFormat::Webp,
        .other_extension_status = 403},
       "webp", 1, 1, true},
      {"JPEG book behind a Referer check", {.id = "referer", .picture = small, .referer_check = true},
       "jpg", 1, 0, true},
      {"WebP book behind a Referer check",
       {.id = "webpref", .picture = small, .format = PageFormat::Webp, .referer_check = true},
       "webp", 1, 1, true},
      {"a PNG cover under .jpg is a picture", {.id = "png", .picture = small,
                                               .page_formats = {{1, PageFormat::Png}}},
       "jpg", 1, 0, true},
      {"an error page as the cover, and no WebP either",
       {.id = "html", .picture = small, .page_faults = {{1, {.html_body = true}}}}, "jpg", 1, 1,
       false},
      {"a server error is no sign of WebP",
       {.id = "busy", .picture = small, .page_faults = {{1, {.status = 500}}}}, "jpg", 1, 0, false},
  };
  for (const Case& c : cases) site_.AddBook(c.book);
  Start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string id = c.book.id;
    const BookAnalysis book = AnalyzeBook(site_.BookUrl(id), FetchOptions{});
    EXPECT_EQ(book.problem, AnalysisProblem::None);
    EXPECT_EQ(book.page_extension, c.extension);
    EXPECT_EQ(book.cover_address, site_.ImageBase(id) + "1." + c.extension);
    EXPECT_EQ(std::string(book.cover.body.begin(), book.cover.body.end()) == site_.PageBytes(id, 1),
              c.cover);
    EXPECT_EQ(site_.ImageRequests(id, 1, "jpg"), c.jpg_requests);
    EXPECT_EQ(site_.ImageRequests(id, 1, "webp"), c.webp_requests);
    for (const RecordedRequest& request : site_.server().RequestsFor(SampleSite::ImagePath(id, 1))) {
      EXPECT_EQ(request.Header("Referer"), site_.BookUrl(id));
    }
  }
}

}  // namespace
}  // namespace folivex
