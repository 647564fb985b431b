#include "analysis/book_analysis.h"

#include "analysis/decode.h"
#include "http/request.h"
#include "image/image_format.h"
#include "platform/codepage.h"
#include "text/markers.h"

namespace folivex {
namespace {

// The cover address answered, but with no picture: refused, missing, or
// something else in its place. A failed exchange is no such answer: the
// same network would fail the other address too.
bool NoPicture(const FetchResult& cover) {
  if (!cover.Completed()) return false;
  if (cover.status == 403 || cover.status == 404) return true;
  return cover.status >= 200 && cover.status <= 299 && SniffImage(cover.body) == ImageKind::None;
}

}  // namespace

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
  result.cover_address = PageImageAddress(result.image_base, 1, result.page_extension);
  // The cover is page 1: a download can save these bytes without asking
  // for them again. Picture requests name the book page, as a browser's do.
  FetchOptions picture_options = options;
  if (picture_options.referer.empty()) picture_options.referer = GbkToUtf8(address);
  result.cover = Fetch(result.cover_address, picture_options);
  if (NoPicture(result.cover)) {
    // Books of newer hosting have WebP pages only; the extension that gives
    // the cover serves every page.
    const Text webp_address = PageImageAddress(result.image_base, 1, "webp");
    FetchResult webp = Fetch(webp_address, picture_options);
    if (webp.Completed() && webp.status >= 200 && webp.status <= 299 &&
        SniffImage(webp.body) != ImageKind::None) {
      result.page_extension = "webp";
      result.cover_address = webp_address;
      result.cover = std::move(webp);
    }
  }
  if (result.PageCount() < 1) {
    result.problem = AnalysisProblem::NoPageCount;
  } else if (result.base.empty()) {
    result.problem = AnalysisProblem::NoBaseAddress;
  }
  return result;
}

Text PageImageAddress(const Text& image_base, int page, const Text& extension) {
  return ConcatText(image_base, IntToText(page), ".", extension);
}

}  // namespace folivex
