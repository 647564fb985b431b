// Book page analysis: from a book page address to the title, page count,
// image base address, cover and save folder, left in the window's controls.
#pragma once

#include <string_view>

#include "platform/services.h"
#include "text/text.h"

namespace folivex {

// What stopped an analysis from giving a downloadable book.
enum class AnalysisProblem {
  None,
  PageNotFetched,  // nothing came back for the address
  NoPageCount,     // the page holds no page count (not a book page?)
  NoBaseAddress,   // the page holds no image folder address
};

struct BookAnalysis {
  AnalysisProblem problem = AnalysisProblem::None;
  Text title;        // as found on the page (what 书名框 shows)
  Text page_count;   // as found, unconverted
  Text image_base;   // base + "files/mobile/"
  bool cover_shown = false;
  Text cover_address;  // base + "files/mobile/1.jpg"
  FetchResult cover;   // what that address gave
  Text folder_name;  // the safe name of the book's folder
  Text save_folder;  // folder for the pages, ending with the separator
  bool folder_created = false;  // false also when it already existed
};

// The page markers, byte for byte.
inline constexpr std::string_view kTitleStart = "title: \"";
inline constexpr std::string_view kTitleEnd = "\",";
inline constexpr std::string_view kPagesStart = "pages: \"";
inline constexpr std::string_view kPagesEnd = "\",";
inline constexpr std::string_view kBaseStart = "class=\"form-control af-left\" readonly value=\"";
inline constexpr std::string_view kBaseEnd = "index.html\">\n ";

// Fetches the address in 书籍地址框 and fills 源代码框, 书名框, 页数框,
// 下载绝对地址框 and 封面框 from the page. The save folder is
// `folder_root` + separator + a safe folder name made from 书名框 (or
// `title_override` when it is not empty) + separator; it is created and
// returned, and SaveFolder is replaced by it.
BookAnalysis AnalyzeBookInBox(const Text& folder_root, const Text& title_override = Text());

// The double-click analysis: the clipboard text into 书籍地址框, then the
// analysis into the program folder. What went wrong is told in a message
// box.
void AnalyzeBook();

// The user's words (code page 936) for what went wrong; empty for None.
Text AnalysisProblemText(AnalysisProblem problem, const Text& address);

}  // namespace folivex
