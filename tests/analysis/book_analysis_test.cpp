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

}  // namespace
}  // namespace folivex
