#include "analysis/book_analysis.h"

#include "analysis/decode.h"
#include "http/request.h"
#include "text/markers.h"

namespace folivex {

BookAnalysis AnalyzeBook(const Text& address, const FetchOptions& options) {
  BookAnalysis result;
  // Only the body counts: an error page is searched like any other.
  result.page = Utf8ToGbk(HttpRequest(address, options));
  if (result.page.empty()) {
    result.problem = AnalysisProblem::PageNotFetched;
    return result;
  }
  result.title = ExtractBetweenFirst(result.page, kTitleStart, kTitleEnd);
  result.page_count = ExtractBetweenFirst(result.page, kPagesStart, kPagesEnd);
  // The base address ends with "/", so the image folder is appended directly.
  result.base = ExtractBetweenFirst(result.page, kBaseStart, kBaseEnd);
  result.image_base = ConcatText(result.base, kImageFolder);
  result.cover_address = PageImageAddress(result.image_base, 1);
  // The cover is page 1: a download can save these bytes without asking
  // for them again.
  result.cover = Fetch(result.cover_address, options);
  if (result.PageCount() < 1) {
    result.problem = AnalysisProblem::NoPageCount;
  } else if (result.base.empty()) {
    result.problem = AnalysisProblem::NoBaseAddress;
  }
  return result;
}

Text PageImageAddress(const Text& image_base, int page) {
  return ConcatText(image_base, IntToText(page), ".jpg");
}

}  // namespace folivex
