#include "app/window_analysis.h"

#include "analysis/book_folder.h"
#include "app/save_folder.h"
#include "platform/codepage.h"
#include "app/controls.h"
#include "platform/services.h"

namespace folivex {

BookAnalysis AnalyzeBookInWindow(const Text& folder_root) {
  const Text address = GetText(Control::书籍地址框);
  // The window's requests keep the fetch layer's defaults.
  const BookAnalysis analysis = AnalyzeBook(address, FetchOptions{});
  SetText(Control::源代码框, analysis.page);
  // An empty page leaves the previous book's boxes as they were.
  if (CompareText(GetText(Control::源代码框), Text()) != 0) {
    SetText(Control::书名框, analysis.title);
    SetText(Control::页数框, analysis.page_count);
    SetText(Control::下载绝对地址框, analysis.image_base);
    ReplacePageExtension(analysis.page_extension);
    SetPicture(Control::封面框, analysis.cover.body);
  }
  // Made from whatever 书名框 holds now: after a failed fetch the previous
  // book's folder becomes SaveFolder again.
  // The folder knows its book: a second book of the same title gets a
  // folder of its own instead of the first one's pages.
  const BookFolder folder =
      PrepareBookFolder(folder_root, GetText(Control::书名框), address, GetText(Control::下载绝对地址框));
  ReplaceSaveFolder(folder.path);
  return analysis;
}

void AnalyzeBook() {
  // The clipboard text unchanged, nothing trimmed.
  SetText(Control::书籍地址框, ClipboardText());
  const BookAnalysis analysis = AnalyzeBookInWindow(ProgramFolder());
  if (analysis.problem != AnalysisProblem::None) {
    // Owned by the window: it takes no input until the box is closed.
    ShowWindowMessage(AnalysisProblemText(analysis.problem, GetText(Control::书籍地址框)));
  }
}

Text AnalysisProblemText(AnalysisProblem problem, const Text& address) {
  switch (problem) {
    case AnalysisProblem::None:
      return Text();
    case AnalysisProblem::PageNotFetched:
      return ConcatText(Utf8ToGbkText("无法获取书籍页面："), address, "\n",
                        Utf8ToGbkText("请检查网络连接和书籍地址。"));
    case AnalysisProblem::NoPageCount:
      return ConcatText(Utf8ToGbkText("书籍页面中找不到页数，这可能不是书籍页面："), address);
    case AnalysisProblem::NoBaseAddress:
      return ConcatText(Utf8ToGbkText("书籍页面中找不到图片地址："), address);
  }
  return Text();
}

}  // namespace folivex
