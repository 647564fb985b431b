// What a double click on the book address box does: the clipboard's address
// is analysed and the window's boxes, the cover, SaveFolder and the book's
// folder are set from the result.
#pragma once

#include "analysis/book_analysis.h"
#include "text/text.h"

namespace folivex {

// The clipboard text into 书籍地址框, then the analysis of that address:
// 源代码框, 书名框, 页数框, 下载绝对地址框 and 封面框 are filled when the
// page came, SaveFolder becomes the program folder + the book's folder and
// the folder is created. What went wrong is told in a message box.
void AnalyzeBook();

// Fills the boxes from an analysis of the address in 书籍地址框 and sets
// and creates the save folder under `folder_root`; gives the analysis.
BookAnalysis AnalyzeBookInWindow(const Text& folder_root);

// The user's words (code page 936) for what went wrong; empty for None.
Text AnalysisProblemText(AnalysisProblem problem, const Text& address);

}  // namespace folivex
