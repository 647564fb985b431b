#include "analysis/book_analysis.h"

#include "analysis/decode.h"
#include "analysis/folder_name.h"
#include "analysis/save_folder.h"
#include "http/request.h"
#include "platform/services.h"
#include "text/markers.h"

namespace folivex {
namespace {

constexpr std::string_view kImageFolder = "files/mobile/";
constexpr std::string_view kCoverFile = "files/mobile/1.jpg";

}  // namespace

BookAnalysis AnalyzeBookInBox(const Text& folder_root, const Text& title_override) {
  BookAnalysis result;
  const Text address = GetText(Control::书籍地址框);
  // Only the body counts: the page is taken to be UTF-8 whatever the
  // response declares, and an error page is searched like any other.
  const Bytes body = HttpRequest(address);
  SetText(Control::源代码框, Utf8ToGbk(body));

  // The box holds exactly what was written and nothing else writes it while
  // this handler runs, so one read serves every cut; a page can be many
  // megabytes and each read copies it out of the control.
  const Text page = GetText(Control::源代码框);
  if (CompareText(page, Text()) != 0) {
    SetText(Control::书名框, ExtractBetweenFirst(page, kTitleStart, kTitleEnd));
    SetText(Control::页数框, ExtractBetweenFirst(page, kPagesStart, kPagesEnd));
    // The base address ends with "/", so the image folder is appended
    // directly.
    const Text base = ExtractBetweenFirst(page, kBaseStart, kBaseEnd);
    SetText(Control::下载绝对地址框, ConcatText(base, kImageFolder));
    // The same GET as FetchUrl, keeping status and length too: the cover is
    // page 1, and a download can save it without asking for it again.
    result.cover_address = ConcatText(base, kCoverFile);
    result.cover = Fetch(result.cover_address);
    SetPicture(Control::封面框, result.cover.body);
    result.cover_shown = !result.cover.body.empty();

    result.title = GetText(Control::书名框);
    result.page_count = GetText(Control::页数框);
    result.image_base = GetText(Control::下载绝对地址框);
    if (TextToInt(result.page_count) < 1) {
      result.problem = AnalysisProblem::NoPageCount;
    } else if (base.empty()) {
      result.problem = AnalysisProblem::NoBaseAddress;
    }
  } else {
    result.problem = AnalysisProblem::PageNotFetched;
    result.title = GetText(Control::书名框);
  }

  // The previous book's boxes stay when the page could not be fetched, and
  // so the folder is made from whatever 书名框 holds now.
  const Text name = SafeFolderName(title_override.empty() ? GetText(Control::书名框) : title_override,
                                   address);
  result.folder_name = name;
  result.save_folder = ConcatText(folder_root, PathSeparator(), name, PathSeparator());
  ReplaceSaveFolder(result.save_folder);
  result.folder_created = CreateFolder(result.save_folder);
  return result;
}

Text AnalysisProblemText(AnalysisProblem problem, const Text& address) {
  switch (problem) {
    case AnalysisProblem::None:
      return Text();
    case AnalysisProblem::PageNotFetched:
      return ConcatText(
          "\xCE\xDE\xB7\xA8\xBB\xF1\xC8\xA1\xCA\xE9\xBC\xAE\xD2\xB3\xC3\xE6\xA3\xBA",  // 无法获取书籍页面：
          address, "\n",
          "\xC7\xEB\xBC\xEC\xB2\xE9\xCD\xF8\xC2\xE7\xC1\xAC\xBD\xD3\xBA\xCD\xCA\xE9\xBC\xAE\xB5\xD8"
          "\xD6\xB7\xA1\xA3");  // 请检查网络连接和书籍地址。
    case AnalysisProblem::NoPageCount:
      return ConcatText(
          // 书籍页面中找不到页数，这可能不是书籍页面：
          "\xCA\xE9\xBC\xAE\xD2\xB3\xC3\xE6\xD6\xD0\xD5\xD2\xB2\xBB\xB5\xBD\xD2\xB3\xCA\xFD\xA3\xAC"
          "\xD5\xE2\xBF\xC9\xC4\xDC\xB2\xBB\xCA\xC7\xCA\xE9\xBC\xAE\xD2\xB3\xC3\xE6\xA3\xBA",
          address);
    case AnalysisProblem::NoBaseAddress:
      return ConcatText(
          // 书籍页面中找不到图片地址：
          "\xCA\xE9\xBC\xAE\xD2\xB3\xC3\xE6\xD6\xD0\xD5\xD2\xB2\xBB\xB5\xBD\xCD\xBC\xC6\xAC\xB5\xD8"
          "\xD6\xB7\xA3\xBA",
          address);
  }
  return Text();
}

void AnalyzeBook() {
  // The clipboard text unchanged, nothing trimmed.
  SetText(Control::书籍地址框, ClipboardText());
  const BookAnalysis analysis = AnalyzeBookInBox(ProgramFolder());
  if (analysis.problem != AnalysisProblem::None) {
    ShowMessage(AnalysisProblemText(analysis.problem, GetText(Control::书籍地址框)));
  }
}

}  // namespace folivex
